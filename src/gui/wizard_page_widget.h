#pragma once
// One page of the wizard window, built from its dialog template: the title in the shared bold
// 12-point font (control 101), the labels, pictures, list box, progress bar and buttons with
// their texts from the string table, arranged the way each page reads best. Controls are
// addressed by their control ids.

#include <QWidget>
#include <map>

#include "wizard/dialog_templates.h"

class CDialogUnits;
class CTabStopListBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;

class CWizardPageWidget : public QWidget {
  Q_OBJECT

 public:
  CWizardPageWidget(const DialogTemplate& dialog, QWidget* parent = nullptr);

  int PageId() const { return m_dialog.id; }
  // The page's size from its template.
  QSize TemplateSize() const;
  // The control with this id, or nullptr.
  QWidget* Control(int controlId) const;
  // The picture of this bitmap or icon resource, or nullptr.
  QWidget* Picture(int resourceId) const;

  void SetControlText(int controlId, const QString& text);
  // The text the control holds (the whole text of a shortened path line).
  QString ControlText(int controlId) const;
  void ShowControl(int controlId, bool show);
  void AddListLine(int controlId, const QString& line);
  void SelectListLine(int controlId, int index);
  // Marks a line of a list box: the device it names is attached.
  void MarkListLine(int controlId, int index, bool marked);
  void SetProgressRange(int controlId, int lower, int upper);
  void SetProgressPos(int controlId, int position);
  void StartProgressMarquee(int controlId);
  // The done page's download log under its result: a heading and the log in a read-only box
  // that scrolls when the log is longer than the page.
  void ShowLogBox(const QString& log);
  // The box, or nullptr on pages without one.
  QPlainTextEdit* LogBox() const { return m_logBox; }

  // The wizard's title font: the dialog font, bold, 12 points.
  static QFont TitleFont(const QFont& dialogFont);

 signals:
  void LineSelected(int controlId, int index);
  void ButtonClicked(int controlId);

 private:
  QWidget* CreateControl(const DialogControl& control, const CDialogUnits& units);
  void LayOutStartPage(const CDialogUnits& units);
  void LayOutFlashPage(const CDialogUnits& units);
  void LayOutProgressPage(const CDialogUnits& units);
  void LayOutDonePage(const CDialogUnits& units);
  void LayOutInOrder(const CDialogUnits& units);
  QWidget* SidePicture(const CDialogUnits& units);
  CTabStopListBox* ListBox(int controlId) const;
  QProgressBar* ProgressBar(int controlId) const;

  const DialogTemplate& m_dialog;
  std::map<int, QWidget*> m_controls;
  std::map<int, QWidget*> m_pictures;
  std::vector<QWidget*> m_order;
  QLabel* m_logHeading = nullptr;
  QPlainTextEdit* m_logBox = nullptr;
};
