#include "gui/language_dialog_widget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/dialog_units.h"
#include "platform/string_table.h"
#include "wizard/dialog_templates.h"
#include "wizard/language_dialog.h"

namespace {

// The text of the template's first control of this kind.
QString TemplateText(const DialogTemplate* dialog, ControlKind kind) {
  if (dialog == nullptr) return {};
  for (const DialogControl& control : dialog->controls) {
    if (control.kind == kind && control.stringId != 0) {
      return QString::fromStdString(LoadResString(control.stringId));
    }
  }
  return {};
}

}  // namespace

CLanguageDialogWidget::CLanguageDialogWidget(CLanguageDialog& logic, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      m_logic(logic) {
  setObjectName(QStringLiteral("dialog%1").arg(CLanguageDialog::kDialogId));
  setWindowTitle(QString::fromStdString(logic.Title()));
  const CDialogUnits units(font());
  const DialogTemplate* dialog = FindDialogTemplate(CLanguageDialog::kDialogId);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(units.X(7), units.Y(7), units.X(7), units.Y(7));
  layout->setSpacing(units.Y(4));

  auto* prompt = new QLabel(TemplateText(dialog, ControlKind::Label), this);
  prompt->setWordWrap(true);
  layout->addWidget(prompt);

  m_list = new QComboBox(this);
  m_list->setObjectName(QStringLiteral("languageList"));
  for (int langId : CLanguageDialog::Languages()) {
    m_list->addItem(QString::fromStdString(CLanguageDialog::LanguageName(langId)), langId);
  }
  m_list->setCurrentIndex(logic.SelectedIndex());
  connect(m_list, &QComboBox::currentIndexChanged, this, [this](int index) { m_logic.Select(index); });
  layout->addWidget(m_list);
  layout->addSpacing(units.Y(3));

  m_dontShow = new QCheckBox(TemplateText(dialog, ControlKind::CheckBox), this);
  m_dontShow->setObjectName(QStringLiteral("dontShowAgain"));
  m_dontShow->setChecked(logic.DontShowAgain());
  connect(m_dontShow, &QCheckBox::toggled, this, [this](bool ticked) { m_logic.SetDontShowAgain(ticked); });
  layout->addWidget(m_dontShow);
  layout->addSpacing(units.Y(4));

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  m_ok = new QPushButton(TemplateText(dialog, ControlKind::Button), this);
  m_ok->setDefault(true);
  m_ok->setMinimumSize(units.Size(50, 14));
  connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
  buttons->addWidget(m_ok);
  layout->addLayout(buttons);
  if (dialog != nullptr) m_list->setMinimumWidth(units.X(dialog->width - 14));
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CLanguageDialogWidget::accept() {
  if (auto result = m_logic.PressOk()) done(*result);
}

void CLanguageDialogWidget::reject() {
  if (auto result = m_logic.Cancel()) done(*result);
}
