#pragma once
// The wizard's core on a thread of its own, as the Qt wizard runs it, with a front end that
// draws nothing: the test's thread stands for the GUI thread. The sheet's drawing calls are
// queued to it in calling order (RepaintPage waits for them), the person's actions come back
// through a locked queue the core waits on, and every dialog question is answered on the front
// end's thread while the core's thread blocks. What is drawn and answered is the scripted
// view's and the scripted interface's, so a test reads it as it reads a run on one thread.
// Built without Qt, so that ThreadSanitizer sees every thread that takes part.

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/user_interface.h"
#include "support/scripted_sheet_view.h"
#include "support/scripted_user_interface.h"
#include "wizard/wizard_sheet_view.h"

// Calls queued to one thread (the front end's), which runs them in order.
class CFrontEndLoop {
 public:
  // Queues `call` and returns at once (any thread).
  void Post(std::function<void()> call);
  // Runs `call` on the loop's thread and returns once it has run; an exception it throws is
  // thrown here.
  void Run(const std::function<void()>& call);
  // On the loop's thread: runs queued calls until `done` holds after one of them (or Stop).
  void RunUntil(const std::function<bool()>& done);
  // Ends RunUntil, from any thread.
  void Stop();

 private:
  std::mutex m_mutex;
  std::condition_variable m_posted;
  std::deque<std::function<void()>> m_calls;
  bool m_stopped = false;
};

// The sheet's view as the core thread sees it: every call forwarded to `shown` on the loop's
// thread.
class CThreadedSheetView : public IWizardSheetView {
 public:
  CThreadedSheetView(CFrontEndLoop& loop, CScriptedSheetView& shown) : m_loop(loop), m_shown(shown) {}

  void SetCaption(const std::string& text) override;
  void AddAboutEntry(const std::string& text) override;
  void ShowPage(int pageId) override;
  void SetWizardButtons(unsigned flags) override;
  void EnableCancel(bool enable) override;
  void CancelToClose() override;
  void ShowAboutBox() override;
  void SetControlText(int pageId, int controlId, const std::string& text) override;
  void ShowControl(int pageId, int controlId, bool show) override;
  void RepaintPage(int pageId) override;
  void AddListLine(int pageId, int controlId, const std::string& line) override;
  void SelectListLine(int pageId, int controlId, int index) override;
  void MarkListLine(int pageId, int controlId, int index, bool marked) override;
  void SetProgressRange(int pageId, int controlId, int lower, int upper) override;
  void SetProgressPos(int pageId, int controlId, int position) override;
  void StartProgressMarquee(int pageId, int controlId) override;
  void OfferLog(int pageId, const std::string& log) override;
  void ShowLog(int pageId, const std::string& log) override;
  // Asks the front end for the person's next action and waits for it; an action already
  // queued (PushAction) is taken first.
  WizardEvent WaitForAction() override;
  std::optional<WizardEvent> PollAction() override;

  // Queues an action as if the person had done it (any thread: the USB watch's too).
  void PushAction(const WizardEvent& event);

  // The threads the view's calls came from (each once).
  std::vector<std::thread::id> CallingThreads();

 private:
  void Draw(std::function<void(CScriptedSheetView&)> draw);
  void NoteCaller();

  CFrontEndLoop& m_loop;
  CScriptedSheetView& m_shown;
  std::mutex m_mutex;
  std::condition_variable m_actionQueued;
  std::deque<WizardEvent> m_actions;
  bool m_asked = false;          // the front end was asked for an action and has not answered
  std::exception_ptr m_failure;  // the scripted view's, thrown on the core thread
  std::vector<std::thread::id> m_callers;
};

// The user interface as the core thread sees it: each call answered by `answers` on the loop's
// thread while the caller waits. Installed while it lives.
class CThreadedUserInterface : public IUserInterface {
 public:
  CThreadedUserInterface(CFrontEndLoop& loop, CScriptedUserInterface& answers);
  ~CThreadedUserInterface() override;
  CThreadedUserInterface(const CThreadedUserInterface&) = delete;
  CThreadedUserInterface& operator=(const CThreadedUserInterface&) = delete;

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
  bool PumpPendingMessages() override;

 private:
  // Runs `ask` with the scripted interface on the loop's thread and returns its answer.
  template <typename Result>
  Result Ask(const std::function<Result(CScriptedUserInterface&)>& ask);
  void Tell(const std::function<void(CScriptedUserInterface&)>& tell);

  CFrontEndLoop& m_loop;
  CScriptedUserInterface& m_answers;
  IUserInterface* m_previous;
};

// Runs `core` on a thread of its own while the calling thread serves `loop` until the core has
// ended. Returns the core's result; an exception the core threw is thrown again here.
bool RunCoreOnItsOwnThread(CFrontEndLoop& loop, const std::function<bool()>& core);
