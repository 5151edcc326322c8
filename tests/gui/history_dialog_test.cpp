// The update history in the wizard: the "Info" menu's entries in the window's language, the
// history entry opening the dialog, and the dialog's table newest first, or its note when
// there is nothing to show.

#include "gui/history_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "gui/wizard_window.h"
#include "gui_test_support.h"
#include "history/history_table.h"
#include "history/update_history.h"
#include "support/temp_folder.h"

namespace {

using gui_test::WaitUntil;

UpdateRecord Record(const std::string& started, const std::string& catalogId, UpdateResult result) {
  UpdateRecord record;
  record.started = started;
  record.ended = started;
  record.catalogId = catalogId;
  record.deviceId = "usb-0001";
  record.firmwareBefore = 105;
  record.result = result;
  record.frontEnd = "tavrix-update";
  return record;
}

class HistoryDialogTest : public ::testing::TestWithParam<int> {
 protected:
  HistoryDialogTest() : m_language(GetParam()) { gui_test::Application(); }
  std::string DatabasePath() const { return m_folder / "history.db"; }

  gui_test::CLanguageScope m_language;
  CTempFolder m_folder;
};

std::string Cell(const QTableWidget& table, int row, int column) {
  const QTableWidgetItem* item = table.item(row, column);
  return item != nullptr ? item->text().toStdString() : std::string();
}

TEST_P(HistoryDialogTest, TheTableListsTheRecordsNewestFirst) {
  const UpdateRecord older = Record("2026-12-01T09:30:00.000Z", "QI-2A1", UpdateResult::Programmed);
  UpdateRecord newer = Record("2026-12-03T10:00:00.000Z", "QI-2A3", UpdateResult::Failed);
  newer.messageId = 20016;
  newer.message = "refused";
  {
    CUpdateHistory history(DatabasePath());
    history.Add(newer);
    history.Add(older);
  }
  CHistoryDialog dialog(nullptr, DatabasePath());
  const QTableWidget& table = *dialog.Table();
  ASSERT_EQ(table.rowCount(), 2);
  const std::vector<std::string> headings = HistoryTableHeadings();
  ASSERT_EQ(table.columnCount(), static_cast<int>(headings.size()));
  for (int column = 0; column < table.columnCount(); ++column) {
    EXPECT_EQ(table.horizontalHeaderItem(column)->text().toStdString(), headings[static_cast<std::size_t>(column)]);
  }
  const UpdateRecord* expected[] = {&newer, &older};
  for (int row = 0; row < 2; ++row) {
    const std::vector<std::string> cells = HistoryTableRow(*expected[row]);
    for (int column = 0; column < table.columnCount(); ++column) {
      EXPECT_EQ(Cell(table, row, column), cells[static_cast<std::size_t>(column)]) << row << "," << column;
    }
  }
  EXPECT_EQ(Cell(table, 0, 0), "2026-12-03 10:00:00");
  EXPECT_EQ(Cell(table, 0, 1), LoadResString(44012));  // failed, in the dialog's language
  EXPECT_EQ(Cell(table, 1, 5), "-");                    // the version after is not known
  EXPECT_TRUE(dialog.Note()->isHidden());
  dialog.show();
  gui_test::SaveScreenshot(dialog, QStringLiteral("history_dialog_") + QString::fromLatin1(gui_test::LanguageSuffix(GetParam())));
}

TEST_P(HistoryDialogTest, TheNoteSaysWhyThereIsNothingToShow) {
  CHistoryDialog empty(nullptr, DatabasePath());
  EXPECT_EQ(empty.Table()->rowCount(), 0);
  EXPECT_EQ(empty.Note()->text().toStdString(), LoadResString(44003));
  // Looking created nothing.
  EXPECT_FALSE(std::filesystem::exists(DatabasePath()));

  m_folder.Write("history.db", std::string(4096, 'x'));
  CHistoryDialog damaged(nullptr, DatabasePath());
  EXPECT_EQ(damaged.Table()->rowCount(), 0);
  const std::string note = damaged.Note()->text().toStdString();
  EXPECT_NE(note.find(DatabasePath()), std::string::npos) << note;
  EXPECT_FALSE(damaged.Note()->isHidden());
}

TEST_P(HistoryDialogTest, InfoOpensAMenuOfTheAboutBoxAndTheHistory) {
  CWizardWindow window;
  std::vector<WizardAction> sent;
  window.SetActionSink([&](const WizardEvent& event) { sent.push_back(event.action); });
  window.AddAboutEntry(QString::fromStdString(LoadResString(101)));
  window.show();
  EXPECT_EQ(window.AboutAction()->text().toStdString(), LoadResString(44030));
  EXPECT_EQ(window.HistoryAction()->text().toStdString(), LoadResString(44031));

  QTest::mouseClick(window.InfoButton(), Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] { return window.InfoMenu()->isVisible(); }));
  EXPECT_EQ(window.InfoMenu()->actions(), (QList<QAction*>{window.AboutAction(), window.HistoryAction()}));
  window.HistoryAction()->trigger();
  window.InfoMenu()->hide();
  CHistoryDialog* dialog = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    dialog = window.findChild<CHistoryDialog*>();
    return dialog != nullptr && dialog->isVisible();
  }));
  EXPECT_EQ(dialog->windowTitle().toStdString(), LoadResString(44032));
  // The history is the wizard's own business: the sheet hears nothing of it.
  EXPECT_TRUE(sent.empty());
  dialog->reject();

  // The About entry goes to the sheet, which shows the About box.
  window.AboutAction()->trigger();
  EXPECT_EQ(sent, std::vector<WizardAction>{WizardAction::About});
  window.AllowClose();
}

INSTANTIATE_TEST_SUITE_P(Languages, HistoryDialogTest, ::testing::Values(LANG_ENGLISH, LANG_RUSSIAN),
                         [](const auto& testInfo) { return std::string(gui_test::LanguageSuffix(testInfo.param)); });

}  // namespace
