#pragma once
// The controls the wizard's dialogs are built from, beyond Qt's own: a list box with tab-stop
// columns, a text line that shortens long paths in the middle, and a picture painted to fit
// its place.

#include <QColor>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <functional>

// A single-selection list box whose lines may hold a tab: the text after the first tab starts
// a second column, aligned for all lines at the first tab stop (every 32 dialog units) past
// the widest first field. A line can carry a mark, a green dot in a narrow column before the
// text; the column is there on every line, so that marking a line moves no text.
class CTabStopListBox : public QListWidget {
  Q_OBJECT

 public:
  explicit CTabStopListBox(int tabStopPixels, QWidget* parent = nullptr);

  void AddLine(const QString& line);
  // Selects a line (-1: none) without reporting it as the person's choice.
  void SelectLine(int index);
  // Where the second column starts, in pixels from the text's left edge.
  int ColumnOffset() const { return m_columnOffset; }

  // Marks a line or takes its mark away.
  void SetLineMarked(int index, bool marked);
  bool IsLineMarked(int index) const;
  // What the mark means, in words: added to a marked line's tooltip and read by screen readers.
  void SetMarkText(const QString& text) { m_markText = text; }
  // The width of the mark's column before each line's text.
  int MarkColumnWidth() const;
  // The mark's colour.
  static QColor MarkColour();

  // The list takes the room its page leaves it; it asks for no more than its minimum.
  QSize sizeHint() const override;

 signals:
  // The person selected another line (-1: none).
  void LineSelected(int index);

 private:
  void UpdateColumn();
  void UpdateToolTip(int index);

  int m_tabStop;
  QString m_markText;
  int m_columnOffset = 0;
  bool m_programmatic = false;
};

// A text line drawn with path ellipsis: a path too long for the line keeps its start and its
// file name and loses the middle ("/home/lab/…/firmware/image.hex"); other texts lose their
// middle.
class CPathLabel : public QLabel {
  Q_OBJECT

 public:
  explicit CPathLabel(QWidget* parent = nullptr);

  void SetFullText(const QString& text);
  const QString& FullText() const { return m_full; }

  // The text shortened to fit `width` pixels in `metrics`.
  static QString ElidePath(const QString& text, const QFontMetrics& metrics, int width);

  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Refit();

  QString m_full;
};

// A picture painted for the size it is given (the artwork is drawn, not scaled).
class CPicture : public QWidget {
  Q_OBJECT

 public:
  using Painter = std::function<QPixmap(QSize size, qreal devicePixelRatio)>;
  CPicture(Painter painter, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Painter m_painter;
  QPixmap m_cache;
};
