#include "gui/about_box.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "gui/artwork.h"
#include "gui/dialog_units.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "wizard/dialog_templates.h"

namespace {
constexpr int kNameLine = 900;
constexpr int kDescriptionLine = 901;
constexpr int kOkButton = 1;

QString DialogText(int controlId) {
  return QString::fromStdString(LoadResString(DialogStringId(kAboutDialogId, controlId)));
}
}  // namespace

CAboutBox::CAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("dialog100"));
  setWindowTitle(DialogText(0));
  const CDialogUnits units(font());
  const DialogTemplate* dialog = FindDialogTemplate(kAboutDialogId);

  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(units.X(10), units.Y(10), units.X(10), units.Y(7));
  layout->setHorizontalSpacing(units.X(10));
  layout->setVerticalSpacing(units.Y(4));

  auto* icon = new QLabel(this);
  icon->setPixmap(CArtwork::ApplicationIcon().pixmap(QSize(64, 64), devicePixelRatioF()));
  icon->setAlignment(Qt::AlignTop);
  layout->addWidget(icon, 0, 0, 2, 1);

  const std::string nameLine = LoadResString(DialogStringId(kAboutDialogId, kNameLine));
  m_name = new QLabel(QString::fromStdString(FormatMessage(nameLine, {TAVRIX_VERSION_TEXT})), this);
  m_name->setObjectName(QStringLiteral("control900"));
  QFont nameFont = font();
  nameFont.setPointSizeF(nameFont.pointSizeF() * 1.3);
  nameFont.setBold(true);
  m_name->setFont(nameFont);
  layout->addWidget(m_name, 0, 1);

  m_description = new QLabel(DialogText(kDescriptionLine), this);
  m_description->setObjectName(QStringLiteral("control901"));
  m_description->setWordWrap(true);
  layout->addWidget(m_description, 1, 1, Qt::AlignTop);
  layout->setColumnMinimumWidth(1, units.X(dialog != nullptr ? dialog->width - 60 : 160));

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(DialogText(kOkButton), QDialogButtonBox::AcceptRole);
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addItem(new QSpacerItem(0, units.Y(6)), 2, 0);
  layout->addWidget(buttons, 3, 0, 1, 2);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}
