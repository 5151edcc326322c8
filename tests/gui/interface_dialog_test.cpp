#include "gui/interface_dialog.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "gui_test_support.h"
#include "transport/usb_init_failed_dlg.h"

namespace {

using gui_test::CLanguageScope;

struct InterfaceCase {
  int langId;
  bool allowExit;
  const char* name;
};

class InterfaceDialogTest : public ::testing::TestWithParam<InterfaceCase> {
 protected:
  void SetUp() override { gui_test::Application(); }
};

TEST_P(InterfaceDialogTest, DrawsTheLogicsTextsAndButtons) {
  const InterfaceCase& c = GetParam();
  CLanguageScope language(c.langId);
  CUsbInitFailedDlg logic(false, c.allowExit, "USB 2A");
  CInterfaceDialog dialog(logic);
  dialog.show();

  EXPECT_EQ(dialog.windowTitle().toStdString(), logic.Title());
  EXPECT_EQ(dialog.TextControl()->text().toStdString(), logic.Text());
  EXPECT_NE(dialog.TextControl()->text().indexOf(QStringLiteral("USB 2A")), -1);
  for (int id : {CUsbInitFailedDlg::kRepeatButton, CUsbInitFailedDlg::kSimulationButton}) {
    ASSERT_NE(dialog.Button(id), nullptr) << id;
    EXPECT_EQ(dialog.Button(id)->text().toStdString(), logic.ButtonText(id));
  }
  EXPECT_TRUE(dialog.Button(CUsbInitFailedDlg::kRepeatButton)->isDefault());
  EXPECT_TRUE(dialog.Button(CUsbInitFailedDlg::kRepeatButton)->isEnabled());
  EXPECT_FALSE(dialog.Button(CUsbInitFailedDlg::kSimulationButton)->isEnabled());
  EXPECT_EQ(dialog.Button(CUsbInitFailedDlg::kExitButton) != nullptr, c.allowExit);
  EXPECT_EQ(dialog.windowFlags().testFlag(Qt::WindowCloseButtonHint), c.allowExit);
  // Every button shows its whole text.
  for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
    EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
  }
  gui_test::SaveScreenshot(dialog, QString::fromLatin1(c.name));
}

INSTANTIATE_TEST_SUITE_P(
    Languages, InterfaceDialogTest,
    ::testing::Values(InterfaceCase{LANG_ENGLISH, true, "interface_dialog_en"},
                      InterfaceCase{LANG_RUSSIAN, true, "interface_dialog_ru"},
                      InterfaceCase{LANG_ENGLISH, false, "interface_dialog_no_exit_en"},
                      InterfaceCase{LANG_RUSSIAN, false, "interface_dialog_no_exit_ru"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// What each action ends the dialog with; -1: the dialog stays open.
struct ActionCase {
  const char* name;
  bool allowSimulation;
  bool allowExit;
  std::function<void(CInterfaceDialog&)> act;
  int expected;
};

class InterfaceDialogActionTest : public ::testing::TestWithParam<ActionCase> {
 protected:
  void SetUp() override { gui_test::Application(); }
};

TEST_P(InterfaceDialogActionTest, EndsWithTheLogicsResult) {
  const ActionCase& c = GetParam();
  CUsbInitFailedDlg logic(c.allowSimulation, c.allowExit, "USB 2A");
  CInterfaceDialog dialog(logic);
  QSignalSpy finished(&dialog, &QDialog::finished);
  dialog.show();
  c.act(dialog);
  QApplication::processEvents();
  if (c.expected < 0) {
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(dialog.isVisible());
  } else {
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toInt(), c.expected);
    EXPECT_FALSE(dialog.isVisible());
  }
}

void Click(CInterfaceDialog& dialog, int id) { QTest::mouseClick(dialog.Button(id), Qt::LeftButton); }

INSTANTIATE_TEST_SUITE_P(
    Actions, InterfaceDialogActionTest,
    ::testing::Values(
        ActionCase{"RepeatEndsWith4", false, true, [](auto& d) { Click(d, 4); }, 4},
        ActionCase{"EnterPressesRepeat", false, false,
                   [](auto& d) { QTest::keyClick(&d, Qt::Key_Return); }, 4},
        ActionCase{"DisabledSimulationIgnored", false, true, [](auto& d) { Click(d, 6); }, -1},
        ActionCase{"SimulationWhenAllowed", true, true, [](auto& d) { Click(d, 6); }, 6},
        ActionCase{"ExitEndsWith2", false, true, [](auto& d) { Click(d, 2); }, 2},
        ActionCase{"EscapeWithExit", false, true,
                   [](auto& d) { QTest::keyClick(&d, Qt::Key_Escape); }, 2},
        ActionCase{"EscapeWithoutExitIgnored", false, false,
                   [](auto& d) { QTest::keyClick(&d, Qt::Key_Escape); }, -1},
        ActionCase{"CloseBoxWithoutExitIgnored", false, false, [](auto& d) { d.close(); }, -1},
        ActionCase{"CloseBoxWithExit", false, true, [](auto& d) { d.close(); }, 2}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
