#pragma once
// The user interface port for the Qt wizard. The core calls it on its own thread; every window
// is made and drawn on the GUI thread. Questions (message boxes, the "Interface" and "Language
// Selection" dialogs) block the core's thread until the person answers, while the GUI thread
// goes on drawing. Called on the GUI thread (tests), the same calls work in place.

#include <QPointer>
#include <atomic>

#include "platform/user_interface.h"

class CAnimationWindow;
class QWidget;

class CQtUserInterface : public IUserInterface {
 public:
  CQtUserInterface();
  ~CQtUserInterface() override;

  // The wizard window: the owner of message boxes and dialogs, disabled while the animation
  // window is up. Set it on the GUI thread.
  void SetMainWindow(QWidget* window);

  int MessageBox(const std::string& text, unsigned style) override;
  void Beep() override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
  bool IsShiftKeyDown() override;
  int RunInterfaceDialog(CUsbInitFailedDlg& dialog) override;
  int RunLanguageDialog(CLanguageDialog& dialog) override;
  int RunSocketLoginDialog(CSocketLoginDlg& dialog) override;
  int RunConnectDialog(CUdpConnectDlg& dialog) override;
  bool ShowAnimationWindow(int dialogId, int animationId) override;
  void SetAnimationText(const std::string& text) override;
  void CloseAnimationWindow() override;
  void EnableOwnerWindow(bool enable) override;
  // The core thread has no messages of this front end's own; it only learns here that the
  // program was asked to quit. On the GUI thread the pending events are dispatched.
  bool PumpPendingMessages() override;

  // The program is asked to quit (any thread); the request stays pending. From then on a
  // message box is not shown: its text goes to standard error and it is answered as Escape
  // would answer it.
  void RequestQuit() { m_quitRequested = true; }
  // Closes the message boxes that are open now, their texts on standard error, so that the
  // core waits for nobody (GUI thread).
  void AnswerOpenMessageBoxes();

  // The animation window while it is up (GUI thread).
  CAnimationWindow* AnimationWindow() const;

 private:
  // The window a dialog opens over: the animation window while it is up, else the wizard
  // when it is shown and enabled, else none.
  QWidget* DialogOwner() const;

  QPointer<QWidget> m_mainWindow;
  QPointer<CAnimationWindow> m_animation;
  std::atomic<bool> m_quitRequested{false};
};
