#pragma once
// Draws the "Connect" dialog: "Available devices:" with the list (401), "Find Devices" (201),
// "Identify" (202, enabled with a selection), "Configuration..." (203, shown only when the
// logic says so), the device address (151), OK and Cancel. "Find Devices" searches on a
// worker thread, so the window keeps drawing during the second per interface it takes.

#include <QDialog>
#include <map>

class CUdpConnectDlg;
class QLineEdit;
class QListWidget;
class QPushButton;
class QThread;

class CConnectDialog : public QDialog {
  Q_OBJECT

 public:
  CConnectDialog(CUdpConnectDlg& logic, QWidget* parent = nullptr);
  ~CConnectDialog() override;

  QPushButton* Button(int controlId) const { return m_buttons.at(controlId); }
  QListWidget* DeviceList() const { return m_list; }
  QLineEdit* AddressEdit() const { return m_address; }
  bool IsSearching() const { return m_search != nullptr; }

  void accept() override;
  void reject() override;

 private:
  void FindDevices();
  void SearchDone();
  void Refresh();

  CUdpConnectDlg& m_logic;
  QListWidget* m_list = nullptr;
  QLineEdit* m_address = nullptr;
  std::map<int, QPushButton*> m_buttons;
  QThread* m_search = nullptr;
};
