#pragma once
// Shows an updater's download log after an update that succeeded (a failed one shows its log on
// the done page itself): a line saying what the log holds, the log (read-only, in a
// fixed-width font) and a Close button.

#include <QDialog>

class QPlainTextEdit;

class CLogViewer : public QDialog {
  Q_OBJECT

 public:
  CLogViewer(const QString& log, QWidget* parent = nullptr);
  QPlainTextEdit* LogText() const { return m_text; }

 private:
  QPlainTextEdit* m_text = nullptr;
};
