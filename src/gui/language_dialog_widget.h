#pragma once
// Draws the "Language Selection" dialog (3010): the prompt, a drop-down list of the six
// languages, each in its own name, the check box "Do not show this message in the future" and
// OK. The choice, the check box and what OK, Escape and the close box do belong to the
// dialog's logic (CLanguageDialog).

#include <QDialog>

class CLanguageDialog;
class QCheckBox;
class QComboBox;
class QPushButton;

class CLanguageDialogWidget : public QDialog {
  Q_OBJECT

 public:
  CLanguageDialogWidget(CLanguageDialog& logic, QWidget* parent = nullptr);

  QComboBox* LanguageList() const { return m_list; }
  QCheckBox* DontShowAgain() const { return m_dontShow; }
  QPushButton* OkButton() const { return m_ok; }

  void accept() override;
  void reject() override;

 private:
  CLanguageDialog& m_logic;
  QComboBox* m_list = nullptr;
  QCheckBox* m_dontShow = nullptr;
  QPushButton* m_ok = nullptr;
};
