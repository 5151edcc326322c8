#include "gui/qt_wizard_sheet_view.h"

#include "gui/gui_thread.h"
#include "gui/wizard_page_widget.h"
#include "gui/wizard_window.h"

namespace {
QString Text(const std::string& text) { return QString::fromStdString(text); }
}  // namespace

CQtWizardSheetView::CQtWizardSheetView(CWizardWindow& window) : m_window(&window) {
  window.SetActionSink([this](const WizardEvent& event) { PushAction(event); });
}

CQtWizardSheetView::~CQtWizardSheetView() {
  if (m_window) m_window->SetActionSink({});
}

void CQtWizardSheetView::Draw(std::function<void(CWizardWindow&)> draw) {
  CGuiThread::Post([window = m_window, draw = std::move(draw)] {
    if (window) draw(*window);
  });
}

void CQtWizardSheetView::SetCaption(const std::string& caption) {
  Draw([caption = Text(caption)](CWizardWindow& w) { w.SetCaption(caption); });
}

void CQtWizardSheetView::AddAboutEntry(const std::string& text) {
  Draw([text = Text(text)](CWizardWindow& w) { w.AddAboutEntry(text); });
}

void CQtWizardSheetView::ShowPage(int pageId) {
  Draw([pageId](CWizardWindow& w) { w.ShowPage(pageId); });
}

void CQtWizardSheetView::OfferLog(int pageId, const std::string& log) {
  Draw([pageId, log = Text(log)](CWizardWindow& w) { w.OfferLog(pageId, log); });
}

void CQtWizardSheetView::ShowLog(int pageId, const std::string& log) {
  Draw([pageId, log = Text(log)](CWizardWindow& w) { w.ShowLog(pageId, log); });
}

void CQtWizardSheetView::SetWizardButtons(unsigned flags) {
  Draw([flags](CWizardWindow& w) { w.SetWizardButtons(flags); });
}

void CQtWizardSheetView::EnableCancel(bool enable) {
  Draw([enable](CWizardWindow& w) { w.EnableCancel(enable); });
}

void CQtWizardSheetView::CancelToClose() {
  Draw([](CWizardWindow& w) { w.CancelToClose(); });
}

void CQtWizardSheetView::ShowAboutBox() {
  Draw([](CWizardWindow& w) { w.ShowAboutBox(); });
}

void CQtWizardSheetView::SetControlText(int pageId, int controlId, const std::string& text) {
  Draw([pageId, controlId, text = Text(text)](CWizardWindow& w) {
    if (CWizardPageWidget* page = w.EnsurePage(pageId)) page->SetControlText(controlId, text);
  });
}

void CQtWizardSheetView::ShowControl(int pageId, int controlId, bool show) {
  Draw([pageId, controlId, show](CWizardWindow& w) {
    if (CWizardPageWidget* page = w.EnsurePage(pageId)) page->ShowControl(controlId, show);
  });
}

void CQtWizardSheetView::RepaintPage(int pageId) {
  CGuiThread::Run([window = m_window, pageId] {
    if (!window) return;
    if (CWizardPageWidget* page = window->Page(pageId)) page->repaint();
  });
}

void CQtWizardSheetView::AddListLine(int pageId, int controlId, const std::string& line) {
  Draw([pageId, controlId, line = Text(line)](CWizardWindow& w) {
    if (CWizardPageWidget* page = w.EnsurePage(pageId)) page->AddListLine(controlId, line);
  });
}

void CQtWizardSheetView::SelectListLine(int pageId, int controlId, int index) {
  Draw([pageId, controlId, index](CWizardWindow& w) {
    if (CWizardPageWidget* page = w.EnsurePage(pageId)) page->SelectListLine(controlId, index);
  });
}

void CQtWizardSheetView::MarkListLine(int pageId, int controlId, int index, bool marked) {
  Draw([pageId, controlId, index, marked](CWizardWindow& w) {
    if (CWizardPageWidget* page = w.EnsurePage(pageId)) page->MarkListLine(controlId, index, marked);
  });
}

void CQtWizardSheetView::SetProgressRange(int pageId, int controlId, int lower, int upper) {
  Draw([pageId, controlId, lower, upper](CWizardWindow& w) {
    if (CWizardPageWidget* page = w.EnsurePage(pageId)) page->SetProgressRange(controlId, lower, upper);
  });
}

void CQtWizardSheetView::SetProgressPos(int pageId, int controlId, int position) {
  Draw([pageId, controlId, position](CWizardWindow& w) {
    if (CWizardPageWidget* page = w.EnsurePage(pageId)) page->SetProgressPos(controlId, position);
  });
}

void CQtWizardSheetView::StartProgressMarquee(int pageId, int controlId) {
  Draw([pageId, controlId](CWizardWindow& w) {
    if (CWizardPageWidget* page = w.EnsurePage(pageId)) page->StartProgressMarquee(controlId);
  });
}

void CQtWizardSheetView::PushAction(const WizardEvent& event) {
  {
    std::lock_guard lock(m_mutex);
    m_actions.push_back(event);
  }
  m_actionQueued.notify_one();
}

WizardEvent CQtWizardSheetView::WaitForAction() {
  std::unique_lock lock(m_mutex);
  m_actionQueued.wait(lock, [this] { return !m_actions.empty(); });
  WizardEvent event = m_actions.front();
  m_actions.pop_front();
  return event;
}

std::optional<WizardEvent> CQtWizardSheetView::PollAction() {
  std::lock_guard lock(m_mutex);
  if (m_actions.empty()) return std::nullopt;
  WizardEvent event = m_actions.front();
  m_actions.pop_front();
  return event;
}
