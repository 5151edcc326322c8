#include "gui/log_viewer.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/dialog_units.h"
#include "platform/string_table.h"

namespace {
constexpr int kCaptionString = 41005;
constexpr int kCloseString = 41006;
constexpr int kIntroString = 41008;  // the update completed; what was noted on the way

QString ResourceText(int stringId) { return QString::fromStdString(LoadResString(stringId)); }
}  // namespace

CLogViewer::CLogViewer(const QString& log, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(ResourceText(kCaptionString));
  const CDialogUnits units(font());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(units.X(7), units.Y(7), units.X(7), units.Y(7));
  layout->setSpacing(units.Y(5));
  auto* intro = new QLabel(ResourceText(kIntroString), this);
  intro->setWordWrap(true);
  layout->addWidget(intro);
  m_text = new QPlainTextEdit(log, this);
  m_text->setReadOnly(true);
  m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
  layout->addWidget(m_text, 1);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* close = buttons->addButton(ResourceText(kCloseString), QDialogButtonBox::RejectRole);
  close->setDefault(true);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(units.Size(300, 180));
}
