#include "gui/page_controls.h"

#include <QApplication>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>

namespace {

// A little air around each line.
constexpr int kRowPadding = 4;
constexpr int kTextIndent = 3;
// Whether a line carries the mark.
constexpr int kMarkedRole = Qt::UserRole + 1;

// The mark: a green dot with a darker rim, centred in its column.
void PaintMark(QPainter& painter, const QRect& column) {
  const qreal diameter = std::max(6.0, column.height() * 0.5);
  const QRectF dot(column.left() + (column.width() - diameter) / 2.0, column.top() + (column.height() - diameter) / 2.0,
                   diameter, diameter);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(CTabStopListBox::MarkColour().darker(140), 1.0));
  painter.setBrush(CTabStopListBox::MarkColour());
  painter.drawEllipse(dot);
  painter.restore();
}

// Draws "first<TAB>second" as two columns.
class CTabStopDelegate : public QStyledItemDelegate {
 public:
  explicit CTabStopDelegate(CTabStopListBox* list) : QStyledItemDelegate(list), m_list(*list) {}

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    return {size.width(), size.height() + kRowPadding};
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QString line = item.text;
    item.text.clear();
    const QWidget* widget = item.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

    const QRect cell =
        style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget).adjusted(kTextIndent, 0, 0, 0);
    const int markWidth = m_list.MarkColumnWidth();
    if (index.data(kMarkedRole).toBool()) PaintMark(*painter, QRect(cell.left(), cell.top(), markWidth, cell.height()));
    const QRect textRect = cell.adjusted(markWidth, 0, 0, 0);
    const int tab = line.indexOf(QLatin1Char('\t'));
    const QString first = tab < 0 ? line : line.left(tab);
    const QString second = tab < 0 ? QString() : line.mid(tab + 1);
    const QPalette::ColorRole role =
        item.state.testFlag(QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text;
    const QPalette::ColorGroup group =
        item.state.testFlag(QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
    painter->save();
    painter->setPen(item.palette.color(group, role));
    painter->setFont(item.font);
    const int column = m_list.ColumnOffset();
    QRect firstRect = textRect;
    if (tab >= 0) firstRect.setWidth(std::min(textRect.width(), column));
    painter->drawText(firstRect, Qt::AlignVCenter | Qt::AlignLeft,
                      item.fontMetrics.elidedText(first, Qt::ElideRight, firstRect.width()));
    if (tab >= 0) {
      // Cut in the middle: the end of a name ("variant 1") is what tells entries apart. The
      // whole line is the line's tooltip.
      QRect secondRect = textRect.adjusted(column, 0, 0, 0);
      painter->drawText(secondRect, Qt::AlignVCenter | Qt::AlignLeft,
                        item.fontMetrics.elidedText(second, Qt::ElideMiddle, secondRect.width()));
    }
    painter->restore();
  }

 private:
  const CTabStopListBox& m_list;
};

}  // namespace

CTabStopListBox::CTabStopListBox(int tabStopPixels, QWidget* parent)
    : QListWidget(parent), m_tabStop(std::max(1, tabStopPixels)) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSortingEnabled(false);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setUniformItemSizes(true);
  setItemDelegate(new CTabStopDelegate(this));
  // The visible selection is the person's choice: a Ctrl+click that clears it leaves the
  // current row where it was, and must leave no line chosen.
  connect(this, &QListWidget::itemSelectionChanged, this, [this] {
    if (m_programmatic) return;
    const QList<QListWidgetItem*> selected = selectedItems();
    emit LineSelected(selected.isEmpty() ? -1 : row(selected.first()));
  });
}

QSize CTabStopListBox::sizeHint() const {
  return {QListWidget::sizeHint().width(), std::max(minimumHeight(), minimumSizeHint().height())};
}

void CTabStopListBox::AddLine(const QString& line) {
  addItem(line);
  UpdateToolTip(count() - 1);
  UpdateColumn();
}

void CTabStopListBox::SetLineMarked(int index, bool marked) {
  QListWidgetItem* line = item(index);
  if (line == nullptr) return;
  line->setData(kMarkedRole, marked);
  line->setData(Qt::AccessibleDescriptionRole, marked ? m_markText : QString());
  UpdateToolTip(index);
}

bool CTabStopListBox::IsLineMarked(int index) const {
  const QListWidgetItem* line = item(index);
  return line != nullptr && line->data(kMarkedRole).toBool();
}

int CTabStopListBox::MarkColumnWidth() const { return fontMetrics().height(); }

QColor CTabStopListBox::MarkColour() { return QColor(0x2E, 0xA0, 0x46); }

void CTabStopListBox::UpdateToolTip(int index) {
  QListWidgetItem* line = item(index);
  QString tip = line->text().replace(QLatin1Char('\t'), QStringLiteral("  "));
  if (line->data(kMarkedRole).toBool() && !m_markText.isEmpty()) tip += QLatin1Char('\n') + m_markText;
  line->setToolTip(tip);
}

void CTabStopListBox::SelectLine(int index) {
  m_programmatic = true;
  if (index < 0 || index >= count()) {
    setCurrentRow(-1);
    clearSelection();
  } else {
    setCurrentRow(index);
    scrollToItem(item(index));
  }
  m_programmatic = false;
}

void CTabStopListBox::UpdateColumn() {
  int widest = 0;
  for (int i = 0; i < count(); ++i) {
    const QString line = item(i)->text();
    const int tab = line.indexOf(QLatin1Char('\t'));
    if (tab >= 0) widest = std::max(widest, fontMetrics().horizontalAdvance(line.left(tab)));
  }
  // The first tab stop that leaves at least a blank's room after the widest first field.
  const int gap = fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 2;
  m_columnOffset = ((widest + gap) / m_tabStop + 1) * m_tabStop;
  viewport()->update();
}

CPathLabel::CPathLabel(QWidget* parent) : QLabel(parent) { setTextFormat(Qt::PlainText); }

void CPathLabel::SetFullText(const QString& text) {
  m_full = text;
  setToolTip(text);
  Refit();
}

QString CPathLabel::ElidePath(const QString& text, const QFontMetrics& metrics, int width) {
  if (metrics.horizontalAdvance(text) <= width) return text;
  const QString ellipsis(QChar(0x2026));
  const qsizetype slash = std::max(text.lastIndexOf(QLatin1Char('/')), text.lastIndexOf(QLatin1Char('\\')));
  if (slash < 0) return metrics.elidedText(text, Qt::ElideMiddle, width);
  const QString tail = text.mid(slash);  // the separator and the file name
  if (metrics.horizontalAdvance(ellipsis + tail) > width) {
    return metrics.elidedText(text, Qt::ElideMiddle, width);
  }
  // Keep as much of the path's start as fits before "…/name".
  qsizetype keep = slash;
  while (keep > 0 && metrics.horizontalAdvance(text.left(keep) + ellipsis + tail) > width) --keep;
  return text.left(keep) + ellipsis + tail;
}

QSize CPathLabel::minimumSizeHint() const {
  return {fontMetrics().averageCharWidth() * 4, QLabel::minimumSizeHint().height()};
}

QSize CPathLabel::sizeHint() const { return {QLabel::sizeHint().width(), minimumSizeHint().height()}; }

void CPathLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  Refit();
}

void CPathLabel::Refit() {
  const QString shown = ElidePath(m_full, fontMetrics(), std::max(0, contentsRect().width()));
  if (shown != text()) setText(shown);
}

CPicture::CPicture(Painter painter, QWidget* parent) : QWidget(parent), m_painter(std::move(painter)) {}

void CPicture::paintEvent(QPaintEvent*) {
  const qreal ratio = devicePixelRatioF();
  if (m_cache.isNull() || m_cache.deviceIndependentSize().toSize() != size() ||
      m_cache.devicePixelRatio() != ratio) {
    m_cache = m_painter(size(), ratio);
  }
  QPainter painter(this);
  painter.drawPixmap(0, 0, m_cache);
}
