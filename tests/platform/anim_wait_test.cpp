#include "platform/anim_wait.h"

#include <gtest/gtest.h>

#include "platform/string_table.h"
#include "support/scripted_user_interface.h"
#include "wizard/anim_thread_dialog.h"

namespace {

// The interface's record as "kind text" lines, with the owner's state after each step.
class AnimWaitTest : public ::testing::Test {
 protected:
  ~AnimWaitTest() override { SetUiLanguage(LANG_ENGLISH); }
  std::vector<std::string> Record() const {
    std::vector<std::string> lines;
    for (const auto& shown : m_ui.Record()) lines.push_back(shown.kind + (shown.text.empty() ? "" : " " + shown.text));
    return lines;
  }
  CScriptedUserInterface m_ui;
};

TEST_F(AnimWaitTest, RunsFromConstructionToDestruction) {
  {
    CAnimWait wait;
    // Construction has returned: the window is up and the owner is disabled.
    EXPECT_TRUE(m_ui.animationShown);
    EXPECT_FALSE(m_ui.ownerEnabled);
    EXPECT_TRUE(wait.IsRunning());
    wait.SetText(30501);
    wait.SetText("Programming segment %d at %05X\n", 3, 0x1F00);
  }
  EXPECT_FALSE(m_ui.animationShown);
  EXPECT_TRUE(m_ui.ownerEnabled);
  EXPECT_EQ(Record(), (std::vector<std::string>{"animation 30502", "animation-text Loading data..",
                                                "animation-text Programming segment 3 at 01F00\n",
                                                "animation-closed"}));
}

TEST_F(AnimWaitTest, WindowThatCannotBeShownLeavesNoAnimation) {
  m_ui.animationCanStart = false;
  {
    CAnimWait wait(30502, 30500);
    EXPECT_FALSE(wait.IsRunning());
    EXPECT_TRUE(m_ui.ownerEnabled);
    wait.SetText(30502);
    wait.SetText("%s", "ignored");
  }
  EXPECT_TRUE(m_ui.ownerEnabled);
  EXPECT_EQ(Record(), std::vector<std::string>{"animation 30502"});
}

TEST_F(AnimWaitTest, OwnerIsEnabledAgainEvenWhenAnimationNeverStarted) {
  m_ui.animationCanStart = false;
  m_ui.ownerEnabled = false;  // disabled by someone else before
  { CAnimWait wait; }
  EXPECT_TRUE(m_ui.ownerEnabled);
}

TEST_F(AnimWaitTest, StringIdWithoutAStringGivesAnEmptyLine) {
  CAnimWait wait;
  wait.SetText(99999);
  ASSERT_EQ(m_ui.Record().size(), 2u);
  EXPECT_EQ(m_ui.Record()[1].kind, "animation-text");
  EXPECT_EQ(m_ui.Record()[1].text, "");
}

TEST_F(AnimWaitTest, StringIdInTheChosenLanguage) {
  SetUiLanguage(LANG_GERMAN);
  CAnimWait wait;
  wait.SetText(30502);
  EXPECT_EQ(m_ui.Record()[1].text, "Daten werden übertragen");
}

TEST_F(AnimWaitTest, LongFormattedTextIsKeptWhole) {
  CAnimWait wait;
  std::string path(5000, 'x');
  wait.SetText("Writing %s", path.c_str());
  EXPECT_EQ(m_ui.Record()[1].text.size(), 5008u);
}

TEST(AnimThreadDialog, EnterAndEscapeLeaveItOpen) {
  CAnimThreadDialog dialog(30502, 30500);
  dialog.OnOK();
  EXPECT_FALSE(dialog.IsCancelled());
  dialog.OnCancel();
  EXPECT_TRUE(dialog.IsCancelled());
  EXPECT_FALSE(dialog.IsCancelEnabled());
  EXPECT_FALSE(CAnimThreadDialog::ClosesOnKey());
}

TEST(AnimThreadDialog, TextsOfDialog30502) {
  CAnimThreadDialog dialog(30502, 30500);
  EXPECT_EQ(dialog.Title(), "Firmware Update");
  EXPECT_EQ(dialog.Text(), "Updating Firmware.\nPlease wait...");
  EXPECT_EQ(dialog.InitialStatus(), ".");
  EXPECT_FALSE(dialog.HasCancelButton());
  EXPECT_TRUE(dialog.ShowsWaitCursor());
  EXPECT_FALSE(dialog.UsesMarquee());
  SetUiLanguage(LANG_RUSSIAN);
  EXPECT_EQ(dialog.Title(), "Обновление микропрограммы");
  SetUiLanguage(LANG_ENGLISH);
}

TEST(AnimThreadDialog, TemplateWithoutCaptionTakesTheApplicationsName) {
  CAnimThreadDialog dialog(1003, 0);
  EXPECT_EQ(dialog.Title(), "Tavrix Update");
  EXPECT_TRUE(dialog.UsesMarquee());
}

}  // namespace
