#pragma once
// The wizard window: the pages in a stack above a row of buttons — "Info" at the left, then
// Back, Next (or Finish in its place) and Cancel. "Info" (and the window's context menu) opens
// a menu with the About box and the update history. It draws what the sheet's logic tells it
// (through CQtWizardSheetView) and reports what the person does as WizardEvents; it never
// decides anything itself. The close box and Escape are reported too, while Cancel could be
// pressed (the close box also once the work is done); the window only closes when the program
// is done with it (AllowClose).

#include <QDialog>
#include <functional>
#include <map>

#include "wizard/wizard_sheet_view.h"

class CWizardPageWidget;
class QAction;
class QMenu;
class QPushButton;
class QStackedWidget;

class CWizardWindow : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kBackButton = 12323;
  static constexpr int kNextButton = 12324;
  static constexpr int kFinishButton = 12325;
  static constexpr int kCancelButton = 12326;

  explicit CWizardWindow(QWidget* parent = nullptr);
  ~CWizardWindow() override;

  // Where the person's actions go (called on the GUI thread).
  void SetActionSink(std::function<void(const WizardEvent&)> sink) { m_sink = std::move(sink); }

  // The sheet starts: the caption, and the buttons' texts in the language chosen by now.
  void SetCaption(const QString& caption);
  void AddAboutEntry(const QString& text);
  void ShowPage(int pageId);
  void SetWizardButtons(unsigned flags);
  void EnableCancel(bool enable);
  void CancelToClose();
  void ShowAboutBox();
  // The "Update History" dialog over the window; returns without waiting for it to close.
  void ShowHistory();
  // A log the person can open from the page: its "Show log" button (control 105) appears.
  void OfferLog(int pageId, const QString& log);
  // Opens the offered log in the log viewer (what the "Show log" button does).
  void OpenLogViewer(int pageId);
  // A log the page shows at once, in a box under its result.
  void ShowLog(int pageId, const QString& log);

  // The page with this id, or nullptr when it was not made yet.
  CWizardPageWidget* Page(int pageId) const;
  // The page with this id, made (not shown) on first use; nullptr for an id without a template.
  CWizardPageWidget* EnsurePage(int pageId);
  int CurrentPageId() const { return m_currentPage; }
  QPushButton* Button(int buttonId) const;
  QPushButton* InfoButton() const { return m_info; }
  // The menu "Info" opens, and its two entries.
  QMenu* InfoMenu() const { return m_infoMenu; }
  QAction* AboutAction() const { return m_aboutAction; }
  QAction* HistoryAction() const { return m_historyAction; }
  QString OfferedLog(int pageId) const;
  // The program is done: the window may close now.
  void AllowClose();

  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void Send(WizardAction action);
  void ApplyLanguage();
  QSize PageAreaSize() const;

  std::function<void(const WizardEvent&)> m_sink;
  QStackedWidget* m_stack = nullptr;
  std::map<int, CWizardPageWidget*> m_pages;
  QPushButton* m_info = nullptr;
  QMenu* m_infoMenu = nullptr;
  QAction* m_aboutAction = nullptr;
  QAction* m_historyAction = nullptr;
  QPushButton* m_back = nullptr;
  QPushButton* m_next = nullptr;
  QPushButton* m_finish = nullptr;
  QPushButton* m_cancel = nullptr;
  int m_currentPage = 0;
  bool m_cancelToClose = false;
  bool m_closeAllowed = false;
  std::map<int, QString> m_logs;
};
