#pragma once
// The About box behind the "Info" entry (dialog 100): the program's icon, its name with the
// version, and a line on what it does.

#include <QDialog>

class QLabel;

class CAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutBox(QWidget* parent = nullptr);

  // "Tavrix Update, Version 3.36".
  QLabel* NameLabel() const { return m_name; }
  QLabel* DescriptionLabel() const { return m_description; }

 private:
  QLabel* m_name = nullptr;
  QLabel* m_description = nullptr;
};
