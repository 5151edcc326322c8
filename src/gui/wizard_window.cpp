#include "gui/wizard_window.h"

#include <QAction>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFrame>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>

#include "gui/about_box.h"
#include "gui/artwork.h"
#include "gui/dialog_units.h"
#include "gui/history_dialog.h"
#include "gui/log_viewer.h"
#include "gui/wizard_page_widget.h"
#include "platform/string_table.h"

namespace {

constexpr int kPageIds[] = {kStartPageId, kFlashPageId, kProgressPageId, kDonePageId};
constexpr int kLogButton = 105;
constexpr int kAboutEntry = 44030;
constexpr int kHistoryEntry = 44031;

QString ResourceText(int stringId) { return QString::fromStdString(LoadResString(stringId)); }

}  // namespace

CWizardWindow::CWizardWindow(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::WindowMinimizeButtonHint) {
  setObjectName(QStringLiteral("wizard"));
  setWindowIcon(CArtwork::ApplicationIcon());
  const CDialogUnits units(font());

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  m_stack = new QStackedWidget(this);
  m_stack->setObjectName(QStringLiteral("pages"));
  m_stack->setAutoFillBackground(true);
  QPalette pagePalette = m_stack->palette();
  pagePalette.setColor(QPalette::Window, pagePalette.color(QPalette::Base));
  m_stack->setPalette(pagePalette);
  m_stack->setMinimumSize(PageAreaSize());
  layout->addWidget(m_stack, 1);

  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  layout->addWidget(line);

  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(units.X(7), units.Y(7), units.X(7), units.Y(7));
  buttons->setSpacing(0);
  auto newButton = [&](int stringId) {
    auto* button = new QPushButton(ResourceText(stringId), this);
    button->setObjectName(QStringLiteral("button%1").arg(stringId));
    button->setMinimumSize(units.Size(50, 14));
    button->setAutoDefault(false);
    return button;
  };
  m_info = new QPushButton(this);
  m_info->setObjectName(QStringLiteral("info"));
  m_info->setMinimumSize(units.Size(50, 14));
  m_info->setAutoDefault(false);
  m_info->hide();
  m_back = newButton(kBackButton);
  m_next = newButton(kNextButton);
  m_finish = newButton(kFinishButton);
  m_cancel = newButton(kCancelButton);
  m_finish->hide();
  buttons->addWidget(m_info);
  buttons->addStretch(1);
  buttons->addWidget(m_back);
  buttons->addWidget(m_next);
  buttons->addWidget(m_finish);
  buttons->addSpacing(units.X(7));
  buttons->addWidget(m_cancel);
  layout->addLayout(buttons);

  connect(m_back, &QPushButton::clicked, this, [this] { Send(WizardAction::Back); });
  connect(m_next, &QPushButton::clicked, this, [this] { Send(WizardAction::Next); });
  connect(m_finish, &QPushButton::clicked, this, [this] { Send(WizardAction::Finish); });
  connect(m_cancel, &QPushButton::clicked, this, [this] { Send(WizardAction::Cancel); });
  // The menu opens below the button; the About entry goes to the core as the button did, the
  // history is only read here.
  m_infoMenu = new QMenu(this);
  m_infoMenu->setObjectName(QStringLiteral("infoMenu"));
  m_aboutAction = m_infoMenu->addAction(QString());
  m_historyAction = m_infoMenu->addAction(QString());
  connect(m_aboutAction, &QAction::triggered, this, [this] { Send(WizardAction::About); });
  connect(m_historyAction, &QAction::triggered, this, &CWizardWindow::ShowHistory);
  connect(m_info, &QPushButton::clicked, this,
          [this] { m_infoMenu->popup(m_info->mapToGlobal(QPoint(0, m_info->height()))); });
  SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
}

CWizardWindow::~CWizardWindow() = default;

QSize CWizardWindow::PageAreaSize() const {
  const CDialogUnits units(font());
  int width = 0;
  int height = 0;
  for (int id : kPageIds) {
    if (const DialogTemplate* dialog = FindDialogTemplate(id)) {
      width = std::max(width, dialog->width);
      height = std::max(height, dialog->height);
    }
  }
  return units.Size(width, height);
}

void CWizardWindow::Send(WizardAction action) {
  if (!m_sink) return;
  WizardEvent event;
  event.action = action;
  event.pageId = m_currentPage;
  m_sink(event);
}

void CWizardWindow::SetCaption(const QString& caption) {
  ApplyLanguage();
  setWindowTitle(caption);
}

void CWizardWindow::ApplyLanguage() {
  for (int id : {kBackButton, kNextButton, kFinishButton, kCancelButton}) Button(id)->setText(ResourceText(id));
}

void CWizardWindow::AddAboutEntry(const QString& text) {
  m_info->setText(text);
  m_info->show();
  // The entries in the language chosen by now.
  m_aboutAction->setText(ResourceText(kAboutEntry));
  m_historyAction->setText(ResourceText(kHistoryEntry));
}

CWizardPageWidget* CWizardWindow::Page(int pageId) const {
  auto it = m_pages.find(pageId);
  return it == m_pages.end() ? nullptr : it->second;
}

CWizardPageWidget* CWizardWindow::EnsurePage(int pageId) {
  if (CWizardPageWidget* page = Page(pageId)) return page;
  const DialogTemplate* dialog = FindDialogTemplate(pageId);
  if (dialog == nullptr) return nullptr;
  auto* page = new CWizardPageWidget(*dialog, m_stack);
  connect(page, &CWizardPageWidget::LineSelected, this, [this, pageId](int controlId, int index) {
    if (!m_sink) return;
    WizardEvent event;
    event.action = WizardAction::SelectionChanged;
    event.pageId = pageId;
    event.controlId = controlId;
    event.index = index;
    m_sink(event);
  });
  connect(page, &CWizardPageWidget::ButtonClicked, this, [this, pageId](int controlId) {
    if (controlId == kLogButton) OpenLogViewer(pageId);
  });
  m_stack->addWidget(page);
  m_pages[pageId] = page;
  return page;
}

void CWizardWindow::ShowPage(int pageId) {
  CWizardPageWidget* page = EnsurePage(pageId);
  if (page == nullptr) return;
  m_currentPage = pageId;
  m_stack->setCurrentWidget(page);
  if (!isVisible()) {
    ApplyLanguage();
    show();
  }
  // The first control that takes the keyboard, else the default button.
  QWidget* focus = page->nextInFocusChain();
  while (focus != nullptr && focus != page && (!page->isAncestorOf(focus) || !focus->isVisible() ||
                                               !focus->isEnabled() || focus->focusPolicy() == Qt::NoFocus)) {
    focus = focus->nextInFocusChain();
  }
  if (focus != nullptr && focus != page) {
    focus->setFocus();
  } else if (m_finish->isVisible() && m_finish->isEnabled()) {
    m_finish->setFocus();
  } else if (m_next->isEnabled()) {
    m_next->setFocus();
  }
}

void CWizardWindow::SetWizardButtons(unsigned flags) {
  m_back->setEnabled((flags & PSWIZB_BACK) != 0);
  const bool finish = (flags & PSWIZB_FINISH) != 0;
  m_next->setVisible(!finish);
  m_next->setEnabled(!finish && (flags & PSWIZB_NEXT) != 0);
  m_finish->setVisible(finish);
  m_finish->setEnabled(finish);
  m_next->setDefault(!finish);
  m_finish->setDefault(finish);
}

void CWizardWindow::EnableCancel(bool enable) {
  m_cancel->setEnabled(enable && !m_cancelToClose);
}

void CWizardWindow::CancelToClose() {
  m_cancelToClose = true;
  m_cancel->setEnabled(false);
}

void CWizardWindow::ShowAboutBox() {
  auto* box = new CAboutBox(this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowIcon(windowIcon());
  box->open();
}

void CWizardWindow::ShowHistory() {
  auto* dialog = new CHistoryDialog(this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowIcon(windowIcon());
  dialog->open();
}

void CWizardWindow::OfferLog(int pageId, const QString& log) {
  m_logs[pageId] = log;
  if (CWizardPageWidget* page = EnsurePage(pageId)) page->ShowControl(kLogButton, !log.isEmpty());
}

QString CWizardWindow::OfferedLog(int pageId) const {
  auto it = m_logs.find(pageId);
  return it == m_logs.end() ? QString() : it->second;
}

void CWizardWindow::ShowLog(int pageId, const QString& log) {
  if (CWizardPageWidget* page = EnsurePage(pageId)) page->ShowLogBox(log);
}

void CWizardWindow::OpenLogViewer(int pageId) {
  const QString log = OfferedLog(pageId);
  if (log.isEmpty()) return;
  auto* viewer = new CLogViewer(log, this);
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->open();
}

QPushButton* CWizardWindow::Button(int buttonId) const {
  switch (buttonId) {
    case kBackButton: return m_back;
    case kNextButton: return m_next;
    case kFinishButton: return m_finish;
    case kCancelButton: return m_cancel;
    default: return nullptr;
  }
}

void CWizardWindow::AllowClose() { m_closeAllowed = true; }

void CWizardWindow::reject() {
  // Escape presses Cancel, when Cancel can be pressed.
  if (m_cancel->isEnabled()) Send(WizardAction::Cancel);
}

void CWizardWindow::closeEvent(QCloseEvent* event) {
  if (m_closeAllowed) {
    event->accept();
    return;
  }
  event->ignore();
  // The close box does what Cancel does: nothing while Cancel is off during the work; once the
  // work is done (Cancel off for good) it ends the wizard.
  if (m_cancel->isEnabled() || m_cancelToClose) Send(WizardAction::Close);
}

void CWizardWindow::contextMenuEvent(QContextMenuEvent* event) {
  // Offered once the sheet has added its "Info" entry.
  if (m_info->isHidden()) return;
  m_infoMenu->popup(event->globalPos());
}
