#include "gui/socket_login_dialog.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "gui/dialog_units.h"
#include "net/socket_login_dlg.h"

CSocketLoginDialog::CSocketLoginDialog(CSocketLoginDlg& logic, QWidget* parent)
    : QDialog(parent), m_logic(logic) {
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (logic.IsButtonEnabled(CSocketLoginDlg::kExitButton)) flags |= Qt::WindowCloseButtonHint;
  setWindowFlags(flags);
  setWindowTitle(QString::fromStdString(logic.Text(0)));

  const CDialogUnits units(font());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(units.X(7), units.Y(7), units.X(7), units.Y(7));
  layout->setSpacing(units.Y(4));
  auto* text = new QLabel(QString::fromStdString(logic.Text(CSocketLoginDlg::kTextControl)), this);
  text->setObjectName(QStringLiteral("control101"));
  text->setWordWrap(true);
  layout->addWidget(text);

  auto* form = new QFormLayout;
  m_address = new QLineEdit(QString::fromStdString(logic.host), this);
  m_address->setObjectName(QStringLiteral("control151"));
  m_address->setMinimumWidth(units.X(120));
  m_port = new QLineEdit(QString::number(logic.port), this);
  m_port->setObjectName(QStringLiteral("control152"));
  // The field takes digits only, as the dialog's number field does.
  m_port->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_port));
  form->addRow(QString::fromStdString(logic.Text(CSocketLoginDlg::kAddressLabel)), m_address);
  form->addRow(QString::fromStdString(logic.Text(CSocketLoginDlg::kPortLabel)), m_port);
  layout->addLayout(form);

  for (int id : {CSocketLoginDlg::kRepeatButton, CSocketLoginDlg::kSimulationButton, CSocketLoginDlg::kExitButton}) {
    auto* button = new QPushButton(QString::fromStdString(logic.Text(id)), this);
    button->setObjectName(QStringLiteral("control%1").arg(id));
    button->setAutoDefault(false);
    button->setEnabled(logic.IsButtonEnabled(id));
    connect(button, &QPushButton::clicked, this, [this, id] { Press(id); });
    layout->addWidget(button);
    m_buttons[id] = button;
  }
  m_buttons[CSocketLoginDlg::kRepeatButton]->setDefault(true);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CSocketLoginDialog::Press(int controlId) {
  if (auto result = m_logic.PressButton(controlId, m_address->text().toStdString(), m_port->text().toStdString())) {
    done(*result);
  }
}

void CSocketLoginDialog::reject() {
  if (auto result = m_logic.Cancel()) done(*result);
}
