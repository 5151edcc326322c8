#pragma once
// The About box behind the "Info" entry: the program's icon, name and version, and a line on
// what it does.

#include <QDialog>

class QLabel;

class CAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutBox(QWidget* parent = nullptr);

  QLabel* NameLabel() const { return m_name; }
  QLabel* VersionLabel() const { return m_version; }

 private:
  QLabel* m_name = nullptr;
  QLabel* m_version = nullptr;
};
