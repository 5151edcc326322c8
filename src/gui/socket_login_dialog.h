#pragma once
// Draws the "Server Login" dialog: the text, the server address (control 151) and the port
// (control 152, digits only), and the buttons "Repeat Initialising" (4, the default), "Run
// Program in Simulation Mode" (6) and "Exit Program" (2), each enabled as the dialog logic
// says. Validation, Escape and the result are the logic's answer; a refused press leaves
// the dialog open.

#include <QDialog>
#include <map>

class CSocketLoginDlg;
class QLineEdit;
class QPushButton;

class CSocketLoginDialog : public QDialog {
  Q_OBJECT

 public:
  CSocketLoginDialog(CSocketLoginDlg& logic, QWidget* parent = nullptr);

  QPushButton* Button(int controlId) const { return m_buttons.at(controlId); }
  QLineEdit* AddressEdit() const { return m_address; }
  QLineEdit* PortEdit() const { return m_port; }

  void reject() override;

 private:
  void Press(int controlId);

  CSocketLoginDlg& m_logic;
  QLineEdit* m_address = nullptr;
  QLineEdit* m_port = nullptr;
  std::map<int, QPushButton*> m_buttons;
};
