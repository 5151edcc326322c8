// The wizard's texts and dialog templates exist in every language the program holds.

#include <gtest/gtest.h>

#include "platform/string_table.h"
#include "wizard/dialog_templates.h"
#include "wizard/language_dialog.h"

namespace {

// Strings the wizard loads by number (dialog texts come from the templates below).
const int kWizardStrings[] = {101,   1007,  1008,  1027,  57344, 61729, 37,    38,    40,
                              30501, 30502, 12323, 12324, 12325, 12326, 100900};

TEST(WizardResources, EveryStringInEveryLanguage) {
  std::vector<int> ids(std::begin(kWizardStrings), std::end(kWizardStrings));
  for (int dialogId : {kStartPageId, kFlashPageId, kProgressPageId, kDonePageId, kAnimationDialogId,
                       kLanguageDialogId, kAboutDialogId}) {
    const DialogTemplate* dialog = FindDialogTemplate(dialogId);
    ASSERT_NE(dialog, nullptr) << dialogId;
    if (dialog->captionStringId != 0) ids.push_back(dialog->captionStringId);
    for (const DialogControl& control : dialog->controls) {
      if (control.stringId != 0) ids.push_back(control.stringId);
    }
  }
  for (int id : ids) {
    for (int lang : HeldLanguages()) EXPECT_FALSE(LoadResStringIn(id, lang).empty()) << id << " in " << lang;
  }
}

TEST(WizardResources, EnglishTextsAsTheProgramShowsThem) {
  const std::pair<int, const char*> cases[] = {
      {DialogStringId(1000, 101), "Welcome to the Tavrix Update Wizard"},
      {DialogStringId(1000, 902), "Select a device and click \"Next\" to start the detection."},
      {DialogStringId(30504, 900),
       "During the programming DO NOT\n\n- switch off the connected device\n- switch off the PC\n"
       "- interrupt the connection to the PC"},
      {DialogStringId(30504, 902), "Click \"Next\" to start the programming.\n\nThis process can take several minutes."},
      {DialogStringId(1002, 104), "Project folder:"},
      {DialogStringId(1003, 900), "Click \"Finish\" to exit the program."},
      {DialogStringId(3010, 0), "Language Selection"},
      {DialogStringId(3010, 202), "Do not show this message in the future"},
      {37, "Re-programming of the device succeeded."},
      {40, "The firmware version of the device is up to date (%d.%02d). A firmware update is not required!"},
      {1027, "Failed to initialize OLE.\nYou have to update the OLE-Libraries on your computer."},
      {101, "Inf&o"}};
  for (const auto& [id, text] : cases) EXPECT_EQ(LoadResStringIn(id, LANG_ENGLISH), text) << id;
}

TEST(WizardResources, VersionMessageFormatsInEveryLanguage) {
  // Message 40 is a printf format in every language: two numbers, nothing else.
  for (int lang : HeldLanguages()) {
    std::string text = LoadResStringIn(40, lang);
    EXPECT_NE(text.find("%d.%02d"), std::string::npos) << lang;
    EXPECT_EQ(text.find('%', text.find("%02d") + 1), std::string::npos) << lang;
  }
}

TEST(WizardResources, PageSizesInDialogUnits) {
  const std::tuple<int, int, int> sizes[] = {
      {1000, 290, 188}, {30504, 240, 140}, {1002, 290, 188}, {1003, 290, 188}, {30502, 186, 82}};
  for (const auto& [id, width, height] : sizes) {
    const DialogTemplate* dialog = FindDialogTemplate(id);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->width, width) << id;
    EXPECT_EQ(dialog->height, height) << id;
  }
  EXPECT_EQ(FindDialogTemplate(4242), nullptr);
}

TEST(LanguageDialog, SixLanguagesEachInItsOwnName) {
  std::vector<std::string> names;
  for (int lang : CLanguageDialog::Languages()) names.push_back(CLanguageDialog::LanguageName(lang));
  EXPECT_EQ(names, (std::vector<std::string>{"Deutsch", "English", "Français", "Nederlands", "Русский", "Español"}));
}

TEST(LanguageDialog, StartsOnTheCurrentLanguageAndIgnoresBadSelections) {
  CLanguageDialog dialog(LANG_SPANISH, false);
  EXPECT_EQ(dialog.SelectedLanguage(), LANG_SPANISH);
  dialog.Select(7);
  dialog.Select(-1);
  EXPECT_EQ(dialog.SelectedLanguage(), LANG_SPANISH);
  dialog.Select(0);
  EXPECT_EQ(dialog.SelectedLanguage(), LANG_GERMAN);
  EXPECT_EQ(CLanguageDialog(0, false).SelectedLanguage(), LANG_ENGLISH);
  EXPECT_EQ(dialog.PressOk(), 1);
  EXPECT_EQ(dialog.Cancel(), 2);
}

}  // namespace
