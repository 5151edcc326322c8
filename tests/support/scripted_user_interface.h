#pragma once
// The tests' user interface: answers queued in advance, everything shown recorded.

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/user_interface.h"

class CScriptedUserInterface : public IUserInterface {
 public:
  struct Shown {
    std::string kind;  // "message", "interface", "language", "animation", "animation-text", ...
    std::string text;
    unsigned style = 0;
  };

  CScriptedUserInterface();
  ~CScriptedUserInterface() override;

  // Answers given in order to message boxes (default IDOK when none is queued).
  void QueueMessageBoxAnswer(int answer) { m_messageAnswers.push_back(answer); }
  // What the person does in the "Interface" dialog, in order: a control id pressed (a press
  // the dialog ignores is recorded and the next answer taken), kEscape for the Escape key or
  // the close box, kNotShown for a dialog that could not be created. With nothing queued the
  // dialog is cancelled; a dialog that ignores that too fails the test.
  static constexpr int kEscape = -100;
  static constexpr int kNotShown = -1;
  void QueueInterfaceAnswer(int controlId) { m_interfaceAnswers.push_back(controlId); }
  // The "Language Selection" dialog: the language chosen in the list, the check box, and OK
  // (or Escape when `ok` is false). Without a queued answer the dialog is left with Escape.
  struct LanguageAnswer {
    int langId = 0;
    bool dontShowAgain = false;
    bool ok = true;
  };
  void QueueLanguageAnswer(LanguageAnswer answer) { m_languageAnswers.push_back(answer); }
  // How the last "Language Selection" dialog looked when it opened.
  struct LanguageDialogSeen {
    std::string title;
    int selectedLanguage = 0;
    bool dontShowAgain = false;
  };
  std::vector<LanguageDialogSeen> languageDialogs;
  // What the person does in the "Server Login" dialog, in order: a button pressed (or kEscape)
  // with the field texts, the ones the dialog shows when not given. A press the dialog refuses
  // is recorded and the next answer taken; with none left the dialog is cancelled, and one
  // that ignores that fails the test.
  struct LoginAnswer {
    int button = 0;
    std::optional<std::string> host;
    std::optional<std::string> port;
  };
  void QueueLoginAnswer(LoginAnswer answer) { m_loginAnswers.push_back(answer); }
  // The "Connect" dialog is driven by a script of the test (its result is the dialog's);
  // without one it is cancelled. Each run takes the next script.
  void QueueConnectScript(std::function<int(CUdpConnectDlg&)> script) {
    m_connectScripts.push_back(std::move(script));
  }
  // The "Interface" dialogs shown, in order.
  std::vector<std::string> InterfaceTexts() const;

  const std::vector<Shown>& Record() const { return m_record; }
  std::vector<std::string> MessageTexts() const;
  void ClearRecord() { m_record.clear(); }

  // Runs as each message box is shown (to see what else is on screen at that moment).
  std::function<void()> onMessageBox;
  bool shiftDown = false;
  bool quitRequested = false;
  bool animationCanStart = true;
  bool animationShown = false;
  bool ownerEnabled = true;
  int waitCursorDepth = 0;

  int MessageBox(const std::string& text, unsigned style) override;
  void Beep() override { m_record.push_back({"beep", {}, 0}); }
  void BeginWaitCursor() override { ++waitCursorDepth; }
  void EndWaitCursor() override { --waitCursorDepth; }
  bool IsShiftKeyDown() override { return shiftDown; }
  int RunInterfaceDialog(CUsbInitFailedDlg& dialog) override;
  int RunLanguageDialog(CLanguageDialog& dialog) override;
  int RunSocketLoginDialog(CSocketLoginDlg& dialog) override;
  int RunConnectDialog(CUdpConnectDlg& dialog) override;
  bool ShowAnimationWindow(int dialogId, int animationId) override;
  void SetAnimationText(const std::string& text) override;
  void CloseAnimationWindow() override;
  void EnableOwnerWindow(bool enable) override { ownerEnabled = enable; }
  bool PumpPendingMessages() override { return !quitRequested; }

 private:
  IUserInterface* m_previous;
  std::deque<int> m_messageAnswers;
  std::deque<int> m_interfaceAnswers;
  std::deque<LanguageAnswer> m_languageAnswers;
  std::deque<LoginAnswer> m_loginAnswers;
  std::deque<std::function<int(CUdpConnectDlg&)>> m_connectScripts;
  std::vector<Shown> m_record;
};
