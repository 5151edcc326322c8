#include "gui/about_box.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "gui/artwork.h"
#include "gui/dialog_units.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"

namespace {
constexpr int kCaptionString = 41005;
constexpr int kVersionString = 41006;
constexpr int kDescriptionString = 41007;
constexpr int kOkString = 41008;

QString Text(const std::string& text) { return QString::fromStdString(text); }
}  // namespace

CAboutBox::CAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  const std::string name = ApplicationName();
  setWindowTitle(Text(FormatMessage(LoadResString(kCaptionString), {name})));
  const CDialogUnits units(font());

  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(units.X(10), units.Y(10), units.X(10), units.Y(7));
  layout->setHorizontalSpacing(units.X(10));
  layout->setVerticalSpacing(units.Y(3));

  auto* icon = new QLabel(this);
  icon->setPixmap(CArtwork::ApplicationIcon().pixmap(QSize(64, 64), devicePixelRatioF()));
  icon->setAlignment(Qt::AlignTop);
  layout->addWidget(icon, 0, 0, 3, 1);

  m_name = new QLabel(Text(name), this);
  QFont nameFont = font();
  nameFont.setPointSizeF(nameFont.pointSizeF() * 1.5);
  nameFont.setBold(true);
  m_name->setFont(nameFont);
  layout->addWidget(m_name, 0, 1);

  m_version = new QLabel(Text(FormatMessage(LoadResString(kVersionString), {TAVRIX_VERSION_TEXT})), this);
  layout->addWidget(m_version, 1, 1);

  auto* description = new QLabel(Text(LoadResString(kDescriptionString)), this);
  description->setWordWrap(true);
  description->setMinimumWidth(units.X(150));
  layout->addWidget(description, 2, 1);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(Text(LoadResString(kOkString)), QDialogButtonBox::AcceptRole);
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addItem(new QSpacerItem(0, units.Y(6)), 3, 0);
  layout->addWidget(buttons, 4, 0, 1, 2);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}
