#include "gui/dialog_units.h"

#include <QFontMetrics>

CDialogUnits::CDialogUnits(const QFont& font) {
  QFontMetrics metrics(font);
  int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  m_charWidth = (letters / 26 + 1) / 2;
  m_charHeight = metrics.height();
}
