#pragma once
// Draws the "Interface" dialog a USB transport shows when its device cannot be opened: our own
// banner at the top (bitmap 20000), the message (control 101) and the buttons "Repeat
// Initialising" (4, the default), "Run Program in Simulation Mode" (6, disabled when the
// transport allows no simulation) and, in template 20002 only, "Exit Program" (2). What each
// button, Escape and the close box do is the dialog logic's answer; an ignored press leaves
// the dialog open.

#include <QDialog>
#include <map>

class CUsbInitFailedDlg;
class QLabel;
class QPushButton;

class CInterfaceDialog : public QDialog {
  Q_OBJECT

 public:
  CInterfaceDialog(const CUsbInitFailedDlg& logic, QWidget* parent = nullptr);

  // The button with this control id, or nullptr when the template has none.
  QPushButton* Button(int controlId) const;
  QLabel* TextControl() const { return m_text; }

  // Escape and the close box (QDialog routes both here).
  void reject() override;

 private:
  void Press(int controlId);

  const CUsbInitFailedDlg& m_logic;
  QLabel* m_text = nullptr;
  std::map<int, QPushButton*> m_buttons;
};
