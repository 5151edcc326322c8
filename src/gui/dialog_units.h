#pragma once
// Dialog layouts are given in dialog units: a horizontal unit is a quarter of the dialog
// font's average character width, a vertical unit an eighth of its character height. The
// average width is measured the way the original dialog manager does it, over the 52 Latin
// letters, rounded.

#include <QFont>
#include <QSize>

class CDialogUnits {
 public:
  explicit CDialogUnits(const QFont& font);

  int X(int units) const { return units * m_charWidth / 4; }
  int Y(int units) const { return units * m_charHeight / 8; }
  QSize Size(int width, int height) const { return {X(width), Y(height)}; }

  int CharWidth() const { return m_charWidth; }
  int CharHeight() const { return m_charHeight; }

 private:
  int m_charWidth;
  int m_charHeight;
};
