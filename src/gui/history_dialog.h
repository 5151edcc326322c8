#pragma once
// "Update History": the recorded updates of this user, newest first, in a table with the
// same columns as the terminal's history command. A history that cannot be read is named
// with the reason above an empty table.

#include <QDialog>
#include <string>

class QLabel;
class QTableWidget;

class CHistoryDialog : public QDialog {
  Q_OBJECT

 public:
  // Reads the history at `path` (the user's own when empty).
  explicit CHistoryDialog(QWidget* parent = nullptr, const std::string& path = {});

  QTableWidget* Table() const { return m_table; }
  // Says that nothing is recorded yet, or why the history could not be read; hidden otherwise.
  QLabel* Note() const { return m_note; }

 private:
  void Fill(const std::string& path);

  QTableWidget* m_table = nullptr;
  QLabel* m_note = nullptr;
};
