#include "wizard/wizard_sheet.h"

#include <algorithm>
#include <stdexcept>

#include "platform/string_table.h"
#include "platform/user_interface.h"
#include "wizard/dialog_templates.h"
#include "wizard/wizard_page.h"

namespace {

CWizardSheet* g_running = nullptr;

// Makes a sheet the running one for the length of its modal run.
class CRunningScope {
 public:
  explicit CRunningScope(CWizardSheet* sheet) : m_previous(g_running) { g_running = sheet; }
  ~CRunningScope() { g_running = m_previous; }
  CRunningScope(const CRunningScope&) = delete;
  CRunningScope& operator=(const CRunningScope&) = delete;

 private:
  CWizardSheet* m_previous;
};

}  // namespace

CWizardSheet::CWizardSheet(IWizardSheetView& view, int captionId, int watermarkId, int headerId)
    : m_view(view),
      m_caption(captionId != 0 ? LoadResString(captionId) : std::string()),
      m_watermarkId(watermarkId),
      m_headerId(headerId) {}

CWizardSheet::~CWizardSheet() = default;

CWizardSheet* CWizardSheet::Running() { return g_running; }

void CWizardSheet::AddWizardPage(CWizardPage* page) {
  page->SetSheet(this);
  m_pages.push_back(page);
  m_created.push_back(false);
}

void CWizardSheet::SetPageSequence(const int* ids, bool resetPosition) {
  m_sequence.clear();
  for (const int* id = ids; id != nullptr; ++id) {
    m_sequence.push_back(*id);
    if (*id == 0) break;
  }
  if (resetPosition) m_position = 0;
}

void CWizardSheet::MarkNoReturn() { m_sequence.at(static_cast<std::size_t>(m_position)) = -1; }

int CWizardSheet::NextPageId() {
  if (m_sequence.empty()) return 0;
  if (m_sequence.at(static_cast<std::size_t>(m_position) + 1) == 0) {
    PressButton(PSWIZB_FINISH);
    return -1;
  }
  ++m_position;
  return m_sequence[static_cast<std::size_t>(m_position)];
}

int CWizardSheet::PrevPageId() {
  if (m_sequence.empty() || m_position == 0) return 0;
  if (m_sequence.at(static_cast<std::size_t>(m_position) - 1) != 0) --m_position;
  return m_sequence[static_cast<std::size_t>(m_position)];
}

unsigned CWizardSheet::ComputeWizardButtons() const {
  if (m_sequence.empty()) return PSWIZB_BACK | PSWIZB_NEXT;
  auto position = static_cast<std::size_t>(m_position);
  unsigned forward = m_sequence.at(position + 1) == 0 ? PSWIZB_FINISH : PSWIZB_NEXT;
  if (position == 0) return forward;
  int previous = m_sequence.at(position - 1);
  if (previous == 0 || previous == -1) return forward;
  return forward | PSWIZB_BACK;
}

void CWizardSheet::GoToPage(int id) {
  int index = PageIndexOf(id);
  for (std::size_t i = 0; i < m_sequence.size() && m_sequence[i] != 0; ++i) {
    if (m_sequence[i] == id) {
      m_position = static_cast<int>(i);
      break;
    }
  }
  SetActivePage(index);
}

CWizardPage* CWizardSheet::ActivePage() const {
  return m_active >= 0 ? m_pages[static_cast<std::size_t>(m_active)] : nullptr;
}

int CWizardSheet::PageIndexOf(int dialogId) const {
  for (std::size_t i = 0; i < m_pages.size(); ++i) {
    if (m_pages[i]->DialogId() == dialogId) return static_cast<int>(i);
  }
  return -1;
}

void CWizardSheet::ShowPageWindow(int pageId) {
  if (pageId == m_shownPageId) return;
  m_shownPageId = pageId;
  m_view.ShowPage(pageId);
}

void CWizardSheet::SetActivePage(int index) {
  if (index < 0 || index >= static_cast<int>(m_pages.size())) return;
  m_active = index;
  CWizardPage* page = m_pages[static_cast<std::size_t>(index)];
  // A page is created when it is first shown; its initialisation runs once.
  if (!m_created[static_cast<std::size_t>(index)]) {
    m_created[static_cast<std::size_t>(index)] = true;
    page->OnInitDialog();
  }
  page->OnSetActive();
  ShowPageWindow(page->DialogId());
}

void CWizardSheet::PostWizardButtons(unsigned flags) { m_posted.push_back({Posted::Buttons, flags, nullptr}); }

void CWizardSheet::PostAutoRun(CWizardPage* page) { m_posted.push_back({Posted::AutoRun, 0, page}); }

void CWizardSheet::PressButton(unsigned button) { m_posted.push_back({Posted::Press, button, nullptr}); }

void CWizardSheet::EnableCancel(bool enable) {
  m_cancelEnabled = enable;
  m_view.EnableCancel(enable);
}

void CWizardSheet::CancelToClose() {
  m_cancelToClose = true;
  m_view.CancelToClose();
}

void CWizardSheet::OnInitDialog() {}

void CWizardSheet::OnSysCommand(int) {}

int CWizardSheet::DoModal() {
  CRunningScope running(this);
  m_result.reset();
  m_quitPending = false;
  if (!m_caption.empty()) m_view.SetCaption(m_caption);
  OnInitDialog();
  SetActivePage(0);
  while (!m_result) {
    if (!m_posted.empty()) {
      Posted posted = m_posted.front();
      m_posted.pop_front();
      DispatchPosted(posted);
      continue;
    }
    if (m_quitPending) {
      EndDialog(IDCANCEL);
      break;
    }
    WizardEvent event;
    if (!m_deferred.empty()) {
      event = m_deferred.front();
      m_deferred.pop_front();
    } else {
      event = m_view.WaitForAction();
    }
    HandleEvent(event);
  }
  m_posted.clear();
  m_deferred.clear();
  return *m_result;
}

void CWizardSheet::DispatchPosted(const Posted& posted) {
  switch (posted.kind) {
    case Posted::Buttons:
      m_buttons = posted.value;
      m_view.SetWizardButtons(posted.value);
      break;
    case Posted::AutoRun:
      posted.page->OnAutoRunMessage();
      break;
    case Posted::Press:
      HandleButton(posted.value);
      break;
  }
}

bool CWizardSheet::IsButtonEnabled(WizardAction action) const {
  switch (action) {
    case WizardAction::Back: return (m_buttons & PSWIZB_BACK) != 0;
    // With Finish set, the Finish button stands where Next was.
    case WizardAction::Next: return (m_buttons & PSWIZB_NEXT) != 0 && (m_buttons & PSWIZB_FINISH) == 0;
    case WizardAction::Finish: return (m_buttons & PSWIZB_FINISH) != 0;
    case WizardAction::Cancel: return IsCancelEnabled();
    default: return false;
  }
}

void CWizardSheet::HandleEvent(const WizardEvent& event) {
  switch (event.action) {
    case WizardAction::SelectionChanged: {
      int index = PageIndexOf(event.pageId);
      if (index >= 0 && m_created[static_cast<std::size_t>(index)]) {
        m_pages[static_cast<std::size_t>(index)]->OnSelectionChanged(event.controlId, event.index);
      }
      return;
    }
    case WizardAction::About:
      OnSysCommand(CMyPropertySheet::kAboutCommand);
      return;
    case WizardAction::DevicesChanged:
      if (CWizardPage* active = ActivePage()) active->OnDevicesChanged();
      return;
    case WizardAction::Close:
      // The close box does what Cancel does while Cancel is available; once the work is done
      // (cancel-to-close) it ends the wizard like Finish.
      if (IsCancelEnabled() || m_cancelToClose) EndDialog(IDCANCEL);
      return;
    case WizardAction::Back:
    case WizardAction::Next:
    case WizardAction::Finish:
    case WizardAction::Cancel:
      break;
  }
  // A button acts only on the page it was pressed on, and only while it is enabled.
  CWizardPage* active = ActivePage();
  if (active == nullptr) return;
  if (event.pageId != active->DialogId() && event.pageId != kCancelDuringWork) return;
  if (!IsButtonEnabled(event.action)) return;
  switch (event.action) {
    case WizardAction::Back: HandleButton(PSWIZB_BACK); break;
    case WizardAction::Next: HandleButton(PSWIZB_NEXT); break;
    case WizardAction::Finish: HandleButton(PSWIZB_FINISH); break;
    case WizardAction::Cancel: EndDialog(IDCANCEL); break;
    default: break;
  }
}

void CWizardSheet::HandleButton(unsigned button) {
  CWizardPage* active = ActivePage();
  if (active == nullptr || m_result) return;
  switch (button) {
    case PSWIZB_BACK: Navigate(active->OnWizardBack(), -1); break;
    case PSWIZB_NEXT: Navigate(active->OnWizardNext(), +1); break;
    case PSWIZB_FINISH: EndDialog(IDOK); break;
    default: break;
  }
}

void CWizardSheet::Navigate(int result, int step) {
  if (result == -1) return;
  if (result == 0) {
    // The framework's default neighbour in the order the pages were added.
    SetActivePage(m_active + step);
    return;
  }
  SetActivePage(PageIndexOf(result));
}

void CWizardSheet::EndDialog(int result) {
  if (!m_result) m_result = result;
}

bool CWizardSheet::PumpPendingMessages() {
  while (!m_posted.empty()) {
    Posted posted = m_posted.front();
    m_posted.pop_front();
    DispatchPosted(posted);
  }
  while (std::optional<WizardEvent> event = m_view.PollAction()) {
    switch (event->action) {
      case WizardAction::SelectionChanged:
      case WizardAction::About:
        HandleEvent(*event);
        break;
      case WizardAction::Close:
        m_quitPending = true;
        break;
      case WizardAction::Cancel:
        // Cancel pressed while it is offered (the start page's connect) is what the person
        // wants whatever page the work leads to: it ends the wizard once the handler is over.
        if (IsCancelEnabled()) event->pageId = kCancelDuringWork;
        m_deferred.push_back(*event);
        break;
      case WizardAction::DevicesChanged:
        // The bus is read again once the running handler is over, when the device is no longer
        // in use; one reading stands for every change meanwhile.
        if (std::none_of(m_deferred.begin(), m_deferred.end(),
                         [](const WizardEvent& queued) { return queued.action == WizardAction::DevicesChanged; })) {
          m_deferred.push_back(*event);
        }
        break;
      default:
        // Buttons wait until the running handler is over; by then they may no longer apply
        // to the page shown, and are dropped.
        m_deferred.push_back(*event);
        break;
    }
  }
  return !m_quitPending;
}

CMyPropertySheet::CMyPropertySheet(IWizardSheetView& view, int captionId) : CWizardSheet(view, captionId) {}

void CMyPropertySheet::OnInitDialog() {
  CWizardSheet::OnInitDialog();
  std::string info = LoadResString(kAboutEntryString);
  if (!info.empty()) View().AddAboutEntry(info);
}

void CMyPropertySheet::OnSysCommand(int command) {
  if ((command & ~0xF) == kAboutCommand) {
    View().ShowAboutBox();
    return;
  }
  CWizardSheet::OnSysCommand(command);
}
