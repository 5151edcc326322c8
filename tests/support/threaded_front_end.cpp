#include "support/threaded_front_end.h"

#include <algorithm>
#include <future>
#include <memory>

void CFrontEndLoop::Post(std::function<void()> call) {
  {
    std::lock_guard lock(m_mutex);
    m_calls.push_back(std::move(call));
  }
  m_posted.notify_one();
}

void CFrontEndLoop::Run(const std::function<void()>& call) {
  auto ran = std::make_shared<std::promise<void>>();
  std::future<void> answer = ran->get_future();
  Post([&call, ran] {
    try {
      call();
      ran->set_value();
    } catch (...) {
      ran->set_exception(std::current_exception());
    }
  });
  answer.get();
}

void CFrontEndLoop::RunUntil(const std::function<bool()>& done) {
  while (true) {
    std::function<void()> call;
    {
      std::unique_lock lock(m_mutex);
      m_posted.wait(lock, [this] { return m_stopped || !m_calls.empty(); });
      if (m_stopped) return;
      call = std::move(m_calls.front());
      m_calls.pop_front();
    }
    call();
    if (done()) return;
  }
}

void CFrontEndLoop::Stop() {
  {
    std::lock_guard lock(m_mutex);
    m_stopped = true;
  }
  m_posted.notify_all();
}

void CThreadedSheetView::NoteCaller() {
  std::lock_guard lock(m_mutex);
  const std::thread::id caller = std::this_thread::get_id();
  if (std::find(m_callers.begin(), m_callers.end(), caller) == m_callers.end()) m_callers.push_back(caller);
}

std::vector<std::thread::id> CThreadedSheetView::CallingThreads() {
  std::lock_guard lock(m_mutex);
  return m_callers;
}

void CThreadedSheetView::Draw(std::function<void(CScriptedSheetView&)> draw) {
  NoteCaller();
  m_loop.Post([this, draw = std::move(draw)] {
    draw(m_shown);
    // What the person did while the work ran reaches the core as the window's clicks do.
    while (std::optional<WizardEvent> event = m_shown.PollAction()) PushAction(*event);
  });
}

void CThreadedSheetView::SetCaption(const std::string& text) {
  Draw([text](CScriptedSheetView& v) { v.SetCaption(text); });
}

void CThreadedSheetView::AddAboutEntry(const std::string& text) {
  Draw([text](CScriptedSheetView& v) { v.AddAboutEntry(text); });
}

void CThreadedSheetView::ShowPage(int pageId) {
  Draw([pageId](CScriptedSheetView& v) { v.ShowPage(pageId); });
}

void CThreadedSheetView::SetWizardButtons(unsigned flags) {
  Draw([flags](CScriptedSheetView& v) { v.SetWizardButtons(flags); });
}

void CThreadedSheetView::EnableCancel(bool enable) {
  Draw([enable](CScriptedSheetView& v) { v.EnableCancel(enable); });
}

void CThreadedSheetView::CancelToClose() {
  Draw([](CScriptedSheetView& v) { v.CancelToClose(); });
}

void CThreadedSheetView::ShowAboutBox() {
  Draw([](CScriptedSheetView& v) { v.ShowAboutBox(); });
}

void CThreadedSheetView::SetControlText(int pageId, int controlId, const std::string& text) {
  Draw([=](CScriptedSheetView& v) { v.SetControlText(pageId, controlId, text); });
}

void CThreadedSheetView::ShowControl(int pageId, int controlId, bool show) {
  Draw([=](CScriptedSheetView& v) { v.ShowControl(pageId, controlId, show); });
}

void CThreadedSheetView::RepaintPage(int pageId) {
  NoteCaller();
  m_loop.Run([this, pageId] { m_shown.RepaintPage(pageId); });
}

void CThreadedSheetView::AddListLine(int pageId, int controlId, const std::string& line) {
  Draw([=](CScriptedSheetView& v) { v.AddListLine(pageId, controlId, line); });
}

void CThreadedSheetView::SelectListLine(int pageId, int controlId, int index) {
  Draw([=](CScriptedSheetView& v) { v.SelectListLine(pageId, controlId, index); });
}

void CThreadedSheetView::MarkListLine(int pageId, int controlId, int index, bool marked) {
  Draw([=](CScriptedSheetView& v) { v.MarkListLine(pageId, controlId, index, marked); });
}

void CThreadedSheetView::SetProgressRange(int pageId, int controlId, int lower, int upper) {
  Draw([=](CScriptedSheetView& v) { v.SetProgressRange(pageId, controlId, lower, upper); });
}

void CThreadedSheetView::SetProgressPos(int pageId, int controlId, int position) {
  Draw([=](CScriptedSheetView& v) { v.SetProgressPos(pageId, controlId, position); });
}

void CThreadedSheetView::StartProgressMarquee(int pageId, int controlId) {
  Draw([=](CScriptedSheetView& v) { v.StartProgressMarquee(pageId, controlId); });
}

void CThreadedSheetView::OfferLog(int pageId, const std::string& log) {
  Draw([=](CScriptedSheetView& v) { v.OfferLog(pageId, log); });
}

void CThreadedSheetView::ShowLog(int pageId, const std::string& log) {
  Draw([=](CScriptedSheetView& v) { v.ShowLog(pageId, log); });
}

void CThreadedSheetView::PushAction(const WizardEvent& event) {
  {
    std::lock_guard lock(m_mutex);
    m_actions.push_back(event);
  }
  m_actionQueued.notify_one();
}

WizardEvent CThreadedSheetView::WaitForAction() {
  NoteCaller();
  std::unique_lock lock(m_mutex);
  if (m_actions.empty() && !m_asked) {
    // One question at a time: an answer that comes after an action pushed meanwhile (the USB
    // watch's) waits for the next call.
    m_asked = true;
    m_loop.Post([this] {
      std::optional<WizardEvent> event;
      std::exception_ptr failure;
      try {
        event = m_shown.WaitForAction();
      } catch (...) {
        failure = std::current_exception();
      }
      {
        std::lock_guard answerLock(m_mutex);
        m_asked = false;
        if (event) m_actions.push_back(*event);
        m_failure = failure;
      }
      m_actionQueued.notify_one();
    });
  }
  m_actionQueued.wait(lock, [this] { return m_failure != nullptr || !m_actions.empty(); });
  if (m_actions.empty()) std::rethrow_exception(m_failure);
  WizardEvent event = m_actions.front();
  m_actions.pop_front();
  return event;
}

std::optional<WizardEvent> CThreadedSheetView::PollAction() {
  NoteCaller();
  std::lock_guard lock(m_mutex);
  if (m_actions.empty()) return std::nullopt;
  WizardEvent event = m_actions.front();
  m_actions.pop_front();
  return event;
}

CThreadedUserInterface::CThreadedUserInterface(CFrontEndLoop& loop, CScriptedUserInterface& answers)
    : m_loop(loop), m_answers(answers), m_previous(InstalledUserInterface()) {
  SetUserInterface(this);
}

CThreadedUserInterface::~CThreadedUserInterface() { SetUserInterface(m_previous); }

template <typename Result>
Result CThreadedUserInterface::Ask(const std::function<Result(CScriptedUserInterface&)>& ask) {
  Result result{};
  m_loop.Run([&] { result = ask(m_answers); });
  return result;
}

void CThreadedUserInterface::Tell(const std::function<void(CScriptedUserInterface&)>& tell) {
  m_loop.Run([&] { tell(m_answers); });
}

int CThreadedUserInterface::MessageBox(const std::string& text, unsigned style) {
  return Ask<int>([&](CScriptedUserInterface& ui) { return ui.MessageBox(text, style); });
}

void CThreadedUserInterface::Beep() {
  Tell([](CScriptedUserInterface& ui) { ui.Beep(); });
}

void CThreadedUserInterface::BeginWaitCursor() {
  Tell([](CScriptedUserInterface& ui) { ui.BeginWaitCursor(); });
}

void CThreadedUserInterface::EndWaitCursor() {
  Tell([](CScriptedUserInterface& ui) { ui.EndWaitCursor(); });
}

bool CThreadedUserInterface::IsShiftKeyDown() {
  return Ask<bool>([](CScriptedUserInterface& ui) { return ui.IsShiftKeyDown(); });
}

int CThreadedUserInterface::RunInterfaceDialog(CUsbInitFailedDlg& dialog) {
  return Ask<int>([&](CScriptedUserInterface& ui) { return ui.RunInterfaceDialog(dialog); });
}

int CThreadedUserInterface::RunLanguageDialog(CLanguageDialog& dialog) {
  return Ask<int>([&](CScriptedUserInterface& ui) { return ui.RunLanguageDialog(dialog); });
}

int CThreadedUserInterface::RunSocketLoginDialog(CSocketLoginDlg& dialog) {
  return Ask<int>([&](CScriptedUserInterface& ui) { return ui.RunSocketLoginDialog(dialog); });
}

int CThreadedUserInterface::RunConnectDialog(CUdpConnectDlg& dialog) {
  return Ask<int>([&](CScriptedUserInterface& ui) { return ui.RunConnectDialog(dialog); });
}

bool CThreadedUserInterface::ShowAnimationWindow(int dialogId, int animationId) {
  return Ask<bool>([&](CScriptedUserInterface& ui) { return ui.ShowAnimationWindow(dialogId, animationId); });
}

void CThreadedUserInterface::SetAnimationText(const std::string& text) {
  Tell([&](CScriptedUserInterface& ui) { ui.SetAnimationText(text); });
}

void CThreadedUserInterface::CloseAnimationWindow() {
  Tell([](CScriptedUserInterface& ui) { ui.CloseAnimationWindow(); });
}

void CThreadedUserInterface::EnableOwnerWindow(bool enable) {
  Tell([enable](CScriptedUserInterface& ui) { ui.EnableOwnerWindow(enable); });
}

bool CThreadedUserInterface::PumpPendingMessages() {
  return Ask<bool>([](CScriptedUserInterface& ui) { return ui.PumpPendingMessages(); });
}

bool RunCoreOnItsOwnThread(CFrontEndLoop& loop, const std::function<bool()>& core) {
  bool result = false;
  std::exception_ptr failure;
  bool done = false;  // set and read on the loop's thread only
  std::thread coreThread([&] {
    try {
      result = core();
    } catch (...) {
      failure = std::current_exception();
    }
    loop.Post([&done] { done = true; });
  });
  loop.RunUntil([&done] { return done; });
  coreThread.join();
  if (failure) std::rethrow_exception(failure);
  return result;
}
