#include "gui/page_controls.h"

#include <gtest/gtest.h>

#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>

#include "gui/wizard_page_widget.h"
#include "wizard/dialog_templates.h"

#include "gui_test_support.h"

namespace {

class PageControlsTest : public ::testing::Test {
 protected:
  void SetUp() override { gui_test::Application(); }
  static QFontMetrics Metrics() { return QFontMetrics(QApplication::font()); }
  static int Width(const QString& text) { return Metrics().horizontalAdvance(text); }
};

// Path ellipsis: what survives at which width.
TEST_F(PageControlsTest, PathEllipsisKeepsTheStartAndTheFileName) {
  const QString path = QStringLiteral("/home/lab/tavrix/firmware/releases/2024/image-v336.hex");
  const QString ellipsis(QChar(0x2026));
  struct Case {
    const char* name;
    QString text;
    int width;
    std::function<void(const QString&)> check;
  };
  const Case cases[] = {
      {"fits", path, Width(path), [&](const QString& s) { EXPECT_EQ(s, path); }},
      {"middle goes", path, Width(path) / 2,
       [&](const QString& s) {
         EXPECT_TRUE(s.startsWith(QStringLiteral("/home/")));
         EXPECT_TRUE(s.endsWith(ellipsis + QStringLiteral("/image-v336.hex"))) << s.toStdString();
       }},
      {"only the name fits", path, Width(ellipsis + QStringLiteral("/image-v336.hex")),
       [&](const QString& s) { EXPECT_EQ(s, ellipsis + QStringLiteral("/image-v336.hex")); }},
      {"backslashes", QStringLiteral("C:\\Tavrix\\Firmware\\Releases\\USB\\image.hex"),
       Width(QStringLiteral("C:\\Tavrix\\Fi")) + Width(ellipsis + QStringLiteral("\\image.hex")),
       [&](const QString& s) { EXPECT_TRUE(s.endsWith(ellipsis + QStringLiteral("\\image.hex"))) << s.toStdString(); }},
      {"not a path", QStringLiteral("Programming segment 12 at 0C000 of the flash memory"), 120,
       [&](const QString& s) { EXPECT_TRUE(s.contains(ellipsis)) << s.toStdString(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString shown = CPathLabel::ElidePath(c.text, Metrics(), c.width);
    EXPECT_LE(Width(shown), c.width);
    c.check(shown);
  }
}

TEST_F(PageControlsTest, PathLabelShortensOnResizeAndKeepsTheWholeText) {
  CPathLabel label;
  label.show();
  const QString path = QStringLiteral("/srv/tavrix/catalogs/laboratory/firmware/usb/interface-2a.hex");
  label.SetFullText(path);
  label.resize(Width(path) / 2, label.sizeHint().height());
  EXPECT_EQ(label.FullText(), path);
  EXPECT_EQ(label.toolTip(), path);
  EXPECT_TRUE(label.text().endsWith(QStringLiteral("/interface-2a.hex")));
  EXPECT_LE(Width(label.text()), label.contentsRect().width());
  label.resize(Width(path) + 10, label.height());
  EXPECT_EQ(label.text(), path);
}

// The second column starts at one tab stop for all lines, past the widest first field.
TEST_F(PageControlsTest, TabStopColumnClearsTheWidestFirstField) {
  const int tabStop = 56;
  CTabStopListBox list(tabStop);
  list.AddLine(QStringLiteral("A\tshort"));
  EXPECT_EQ(list.ColumnOffset(), tabStop);
  list.AddLine(QStringLiteral("A-MUCH-LONGER-IDENTIFIER\tlong"));
  const int widest = list.fontMetrics().horizontalAdvance(QStringLiteral("A-MUCH-LONGER-IDENTIFIER"));
  EXPECT_GT(list.ColumnOffset(), widest);
  EXPECT_EQ(list.ColumnOffset() % tabStop, 0);
  EXPECT_LE(list.ColumnOffset() - widest, tabStop + 2 * list.fontMetrics().horizontalAdvance(QLatin1Char(' ')));
}

// A line chosen by the program is not reported as the person's choice; the person's is.
TEST_F(PageControlsTest, OnlyThePersonsSelectionIsReported) {
  CTabStopListBox list(40);
  for (const char* line : {"1\tone", "2\ttwo", "3\tthree"}) list.AddLine(QString::fromLatin1(line));
  QSignalSpy selected(&list, &CTabStopListBox::LineSelected);
  list.SelectLine(1);
  EXPECT_EQ(list.currentRow(), 1);
  list.SelectLine(-1);
  EXPECT_EQ(list.currentRow(), -1);
  EXPECT_EQ(selected.count(), 0);
  list.setCurrentRow(2);
  ASSERT_EQ(selected.count(), 1);
  EXPECT_EQ(selected.at(0).at(0).toInt(), 2);
}

// A name longer than its column is cut in the middle on screen; the whole line is the line's
// tooltip, so that entries that differ only at their end can be told apart.
TEST_F(PageControlsTest, EveryLineCarriesItsWholeTextAsATooltip) {
  CTabStopListBox list(40);
  list.AddLine(QString::fromUtf8("QI-2A1\tQuadrel Interface 2A, variant 1"));
  EXPECT_EQ(list.item(0)->toolTip(), QString::fromUtf8("QI-2A1  Quadrel Interface 2A, variant 1"));
}

// Ctrl+click on the selected line clears the selection the person sees: no line is chosen
// then, though the current row stays; a plain click chooses again.
TEST_F(PageControlsTest, ACtrlClickThatClearsTheSelectionChoosesNoLine) {
  CTabStopListBox list(40);
  for (const char* line : {"1\tone", "2\ttwo", "3\tthree"}) list.AddLine(QString::fromLatin1(line));
  list.resize(300, 200);
  list.show();
  QSignalSpy selected(&list, &CTabStopListBox::LineSelected);
  const QPoint second = list.visualItemRect(list.item(1)).center();
  QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, second);
  ASSERT_GE(selected.count(), 1);
  EXPECT_EQ(selected.last().at(0).toInt(), 1);
  QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, second);
  EXPECT_TRUE(list.selectedItems().isEmpty());
  EXPECT_EQ(selected.last().at(0).toInt(), -1);
  QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, second);
  EXPECT_EQ(selected.last().at(0).toInt(), 1);
}

// Once the bar runs its marquee, later ranges and positions do not stop it.
TEST_F(PageControlsTest, ProgressMarqueeStaysAMarquee) {
  CWizardPageWidget page(*FindDialogTemplate(kProgressPageId));
  auto* bar = static_cast<QProgressBar*>(page.Control(551));
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(bar->isHidden());
  page.SetProgressRange(551, 0, 200);
  page.SetProgressPos(551, 50);
  EXPECT_EQ(bar->maximum(), 200);
  EXPECT_EQ(bar->value(), 50);
  page.StartProgressMarquee(551);
  page.SetProgressRange(551, 0, 100);
  page.SetProgressPos(551, 70);
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 0);
}

}  // namespace
