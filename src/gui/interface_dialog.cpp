#include "gui/interface_dialog.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/artwork.h"
#include "gui/dialog_units.h"
#include "transport/usb_init_failed_dlg.h"

namespace {
constexpr int kWidthUnits = 182;
}  // namespace

CInterfaceDialog::CInterfaceDialog(const CUsbInitFailedDlg& logic, QWidget* parent)
    : QDialog(parent), m_logic(logic) {
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (logic.HasExitButton()) flags |= Qt::WindowCloseButtonHint;
  setWindowFlags(flags);
  setWindowTitle(QString::fromStdString(logic.Title()));

  const CDialogUnits units(font());
  const int width = units.X(kWidthUnits);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, units.Y(7));
  layout->setSpacing(0);

  auto* banner = new QLabel(this);
  const QSize bannerSize(width, units.Y(44));
  banner->setPixmap(CArtwork::InterfaceBanner(bannerSize, devicePixelRatioF()));
  banner->setFixedSize(bannerSize);
  layout->addWidget(banner);

  auto* body = new QVBoxLayout;
  body->setContentsMargins(units.X(7), units.Y(7), units.X(7), 0);
  body->setSpacing(units.Y(4));
  m_text = new QLabel(QString::fromStdString(logic.Text()), this);
  m_text->setObjectName(QStringLiteral("control101"));
  m_text->setTextFormat(Qt::PlainText);
  m_text->setWordWrap(true);
  m_text->setMinimumWidth(width - units.X(14));
  body->addWidget(m_text);
  body->addSpacing(units.Y(4));

  std::vector<int> ids{CUsbInitFailedDlg::kRepeatButton, CUsbInitFailedDlg::kSimulationButton};
  if (logic.HasExitButton()) ids.push_back(CUsbInitFailedDlg::kExitButton);
  for (int id : ids) {
    auto* button = new QPushButton(QString::fromStdString(logic.ButtonText(id)), this);
    button->setObjectName(QStringLiteral("control%1").arg(id));
    button->setMinimumHeight(units.Y(14));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, id] { Press(id); });
    body->addWidget(button);
    m_buttons[id] = button;
  }
  m_buttons[CUsbInitFailedDlg::kRepeatButton]->setDefault(true);
  m_buttons[CUsbInitFailedDlg::kSimulationButton]->setEnabled(logic.IsSimulationEnabled());
  layout->addLayout(body);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

QPushButton* CInterfaceDialog::Button(int controlId) const {
  auto it = m_buttons.find(controlId);
  return it == m_buttons.end() ? nullptr : it->second;
}

void CInterfaceDialog::Press(int controlId) {
  if (auto result = m_logic.PressButton(controlId)) done(*result);
}

void CInterfaceDialog::reject() {
  if (auto result = m_logic.Cancel()) done(*result);
}
