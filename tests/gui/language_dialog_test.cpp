#include "gui/language_dialog_widget.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "gui_test_support.h"
#include "platform/user_interface.h"
#include "wizard/language_dialog.h"

namespace {

using gui_test::CLanguageScope;

class LanguageDialogTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { gui_test::Application(); }
};

TEST_P(LanguageDialogTest, ListsTheSixLanguagesInTheirOwnNames) {
  CLanguageScope language(GetParam());
  CLanguageDialog logic(GetParam(), false);
  CLanguageDialogWidget dialog(logic);
  dialog.show();
  EXPECT_EQ(dialog.windowTitle().toStdString(), LoadResString(3010000));
  EXPECT_EQ(dialog.OkButton()->text().toStdString(), LoadResString(3010001));
  EXPECT_EQ(dialog.DontShowAgain()->text().toStdString(), LoadResString(3010202));
  EXPECT_FALSE(dialog.DontShowAgain()->isChecked());
  ASSERT_EQ(dialog.LanguageList()->count(), 6);
  const char* names[] = {"Deutsch", "English", "Français", "Nederlands", "Русский", "Español"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(dialog.LanguageList()->itemText(i).toStdString(), names[i]);
  // The list starts on the language in use.
  EXPECT_EQ(dialog.LanguageList()->currentData().toInt(), GetParam());
  EXPECT_TRUE(dialog.OkButton()->isDefault());
  QApplication::processEvents();
  EXPECT_GE(dialog.DontShowAgain()->width(), dialog.DontShowAgain()->sizeHint().width());
  gui_test::SaveScreenshot(dialog, QStringLiteral("language_dialog_%1").arg(gui_test::LanguageSuffix(GetParam())));
}

INSTANTIATE_TEST_SUITE_P(Languages, LanguageDialogTest, ::testing::Values(LANG_ENGLISH, LANG_RUSSIAN),
                         [](const auto& testInfo) { return std::string(gui_test::LanguageSuffix(testInfo.param)); });

struct LanguageActionCase {
  const char* name;
  std::function<void(CLanguageDialogWidget&)> act;
  int result;
  int language;
  bool dontShowAgain;
};

class LanguageDialogActionTest : public ::testing::TestWithParam<LanguageActionCase> {
 protected:
  void SetUp() override { gui_test::Application(); }
};

TEST_P(LanguageDialogActionTest, HandsTheChoiceToTheLogic) {
  const LanguageActionCase& c = GetParam();
  CLanguageDialog logic(LANG_ENGLISH, false);
  CLanguageDialogWidget dialog(logic);
  QSignalSpy finished(&dialog, &QDialog::finished);
  dialog.show();
  c.act(dialog);
  ASSERT_EQ(finished.count(), 1);
  EXPECT_EQ(finished.at(0).at(0).toInt(), c.result);
  EXPECT_EQ(logic.SelectedLanguage(), c.language);
  EXPECT_EQ(logic.DontShowAgain(), c.dontShowAgain);
}

INSTANTIATE_TEST_SUITE_P(
    Actions, LanguageDialogActionTest,
    ::testing::Values(
        LanguageActionCase{"OkKeepsTheLanguage",
                           [](auto& d) { QTest::mouseClick(d.OkButton(), Qt::LeftButton); }, IDOK,
                           LANG_ENGLISH, false},
        LanguageActionCase{"RussianTickedThenEnter",
                           [](auto& d) {
                             d.LanguageList()->setCurrentIndex(4);
                             QTest::mouseClick(d.DontShowAgain(), Qt::LeftButton);
                             QTest::keyClick(&d, Qt::Key_Return);
                           },
                           IDOK, LANG_RUSSIAN, true},
        LanguageActionCase{"EscapeCancels",
                           [](auto& d) {
                             d.LanguageList()->setCurrentIndex(0);
                             QTest::keyClick(&d, Qt::Key_Escape);
                           },
                           IDCANCEL, LANG_GERMAN, false},
        LanguageActionCase{"CloseBoxCancels", [](auto& d) { d.close(); }, IDCANCEL, LANG_ENGLISH, false}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
