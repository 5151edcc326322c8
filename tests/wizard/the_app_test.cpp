#include "wizard/the_app.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/string_table.h"
#include "support/wizard_fixture.h"
#include "wizard/response_file.h"
#include "wizard/wizard_state.h"

namespace {

// The environment's language for the length of a test (the system's language applies when no
// language was chosen).
class CEnvironmentLanguage {
 public:
  explicit CEnvironmentLanguage(const char* locale) {
    if (const char* old = std::getenv("LC_ALL")) m_previous = old;
    ::setenv("LC_ALL", locale, 1);
  }
  ~CEnvironmentLanguage() {
    if (m_previous) {
      ::setenv("LC_ALL", m_previous->c_str(), 1);
    } else {
      ::unsetenv("LC_ALL");
    }
  }

 private:
  std::optional<std::string> m_previous;
};

struct LanguageCase {
  const char* name;
  std::vector<std::string> args;
  std::optional<int> storedLangId;
  std::optional<int> storedChoose;
  bool shift;
  std::optional<CScriptedUserInterface::LanguageAnswer> answer;
  // expected
  bool dialogShown;
  int uiLanguage;
  std::optional<int> langIdAfter;
  std::optional<int> chooseAfter;
};

class LanguageChoice : public WizardFixture, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(LanguageChoice, DecidesAndStores) {
  const LanguageCase& c = GetParam();
  CEnvironmentLanguage environment("fr_FR.UTF-8");  // the system's language is French
  if (c.storedLangId) StoreInt("LangID", *c.storedLangId);
  if (c.storedChoose) StoreInt("ChooseLanguage", *c.storedChoose);
  m_ui.shiftDown = c.shift;
  if (c.answer) m_ui.QueueLanguageAnswer(*c.answer);
  CTheApp app(m_view, c.args, SettingsDirectory());
  app.ChooseLanguage();
  EXPECT_EQ(m_ui.languageDialogs.size(), c.dialogShown ? 1u : 0u);
  EXPECT_EQ(UiLanguage(), c.uiLanguage);
  EXPECT_EQ(StoredInt("LangID", -1), c.langIdAfter.value_or(-1));
  EXPECT_EQ(StoredInt("ChooseLanguage", -1), c.chooseAfter.value_or(-1));
}

using Answer = CScriptedUserInterface::LanguageAnswer;

INSTANTIATE_TEST_SUITE_P(
    Table, LanguageChoice,
    ::testing::Values(
        LanguageCase{"FirstStartAsks", {}, {}, {}, false, Answer{LANG_GERMAN, true, true},
                     true, LANG_GERMAN, LANG_GERMAN, 0},
        LanguageCase{"BoxNotTickedAsksAgainNextTime", {}, {}, {}, false, Answer{LANG_RUSSIAN, false, true},
                     true, LANG_RUSSIAN, LANG_RUSSIAN, 1},
        LanguageCase{"EscapeStoresNothing", {}, {}, {}, false, Answer{LANG_GERMAN, true, false},
                     true, LANG_FRENCH, {}, {}},
        LanguageCase{"StoredChoiceWithoutDialog", {}, LANG_DUTCH, 0, false, {}, false, LANG_DUTCH, LANG_DUTCH, 0},
        LanguageCase{"ShiftAsksAgain", {}, LANG_DUTCH, 0, true, Answer{LANG_SPANISH, true, true},
                     true, LANG_SPANISH, LANG_SPANISH, 0},
        LanguageCase{"ShiftAndUntick", {}, LANG_DUTCH, 0, true, Answer{LANG_DUTCH, false, true},
                     true, LANG_DUTCH, LANG_DUTCH, 1},
        LanguageCase{"LangSwitchNeverAsks", {"/lang", "1031"}, {}, 1, true, {}, false, LANG_GERMAN, {}, 1},
        LanguageCase{"LangSwitchIsNotStored", {"-lang", "1049"}, LANG_DUTCH, 0, false, {}, false, LANG_RUSSIAN,
                     LANG_DUTCH, 0},
        LanguageCase{"LangSwitchOtherCaseIsNotAskedFor", {"/LANG", "1031"}, {}, 1, false, Answer{LANG_DUTCH, true, true},
                     true, LANG_DUTCH, LANG_DUTCH, 0},
        LanguageCase{"LanguageNotHeldFallsBackToTheSystems", {"/lang", "1040"}, {}, {}, false, {}, false,
                     LANG_FRENCH, {}, {}},
        LanguageCase{"NothingStoredNoDialogAnswerMeansSystem", {}, 0, 0, false, {}, false, LANG_FRENCH, 0, 0}),
    [](const auto& testCase) { return testCase.param.name; });

TEST_F(WizardFixture, LanguageDialogOpensOnTheCurrentLanguage) {
  StoreInt("LangID", LANG_RUSSIAN);
  StoreInt("ChooseLanguage", 0);
  m_ui.shiftDown = true;
  CTheApp app(m_view, {}, SettingsDirectory());
  app.ChooseLanguage();
  ASSERT_EQ(m_ui.languageDialogs.size(), 1u);
  EXPECT_EQ(m_ui.languageDialogs[0].title, "Выбор языка");
  EXPECT_EQ(m_ui.languageDialogs[0].selectedLanguage, LANG_RUSSIAN);
  EXPECT_TRUE(m_ui.languageDialogs[0].dontShowAgain);  // it would not have been shown without Shift
}

TEST_F(WizardFixture, SettingsLiveInTheCompanyFolder) {
  m_ui.QueueLanguageAnswer({LANG_GERMAN, true, true});
  CTheApp app(m_view, {}, SettingsDirectory());
  app.ChooseLanguage();
  std::ifstream file(std::filesystem::path(SettingsDirectory()) / "Tavrix" / "Tavrix Update.ini");
  ASSERT_TRUE(file);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_NE(text.str().find("[Settings]"), std::string::npos);
  EXPECT_NE(text.str().find("LangID=1031"), std::string::npos);
  EXPECT_NE(text.str().find("ChooseLanguage=0"), std::string::npos);
}

TEST_F(WizardFixture, StoredRuntimeLocaleWinsOverTheResourceOne) {
  StoreInt("ChooseLanguage", 0);
  StoreString("Language", "C.UTF-8");
  CTheApp app(m_view, {}, SettingsDirectory());
  app.ChooseLanguage();
  EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C.UTF-8");
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
}

TEST_F(WizardFixture, MissingRuntimeLocaleIsNoError) {
  std::setlocale(LC_ALL, "C");
  EXPECT_FALSE(CTheApp::SetRuntimeLocale("klingon"));
  EXPECT_FALSE(CTheApp::SetRuntimeLocale(""));
  EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
}

TEST(RuntimeLocale, NamesMapToPosixLocales) {
  const std::pair<const char*, const char*> cases[] = {
      {"english", "en_US"}, {"German", "de_DE"},  {"FRENCH", "fr_FR"}, {"dutch", "nl_NL"},
      {"russian", "ru_RU"}, {"spanish", "es_ES"}, {"klingon", ""},     {"", ""}};
  for (const auto& [name, posix] : cases) EXPECT_EQ(CTheApp::PosixLocaleFor(name), posix) << name;
  // Each language's string 1007 names a locale the table knows.
  for (int lang : HeldLanguages()) EXPECT_FALSE(CTheApp::PosixLocaleFor(LoadResStringIn(1007, lang)).empty()) << lang;
}

TEST_F(WizardFixture, InitInstanceShowsTheWizardInTheChosenLanguage) {
  WriteCatalog("<Config><Devices/></Config>");
  m_view.Queue(WizardAction::Cancel);
  EXPECT_FALSE(Run({"/lang", "1049"}));
  EXPECT_EQ(m_view.caption, "Tavrix Update");
  EXPECT_EQ(m_view.aboutEntry, "Инф&о");
  EXPECT_FALSE(TheWizardState().DebugMode);
}

TEST_F(WizardFixture, AResponseFileAboveTheBoundIsNamedInAMessage) {
  WriteCatalog("<Config><Devices/></Config>");
  std::string larger = m_folder.Write("larger.rsp", std::string(CResponseFile::kMaxBytes + 1, ' '));
  m_view.Queue(WizardAction::Cancel);
  EXPECT_FALSE(Run({"@" + larger, "/lang", "1033", "/DEBUG"}));
  EXPECT_EQ(m_ui.MessageTexts(),
            std::vector<std::string>{larger + "\nThis response file is larger than 1048576 bytes and was not read."});
  EXPECT_TRUE(TheWizardState().DebugMode);
}

// A response file that can be read only once (a pipe, a process's output) still gives every
// switch it holds: the command line is read once per run. Here the file is gone once the
// language has been asked for.
TEST_F(WizardFixture, AResponseFileIsReadOncePerRun) {
  class CRemovingUserInterface : public CScriptedUserInterface {
   public:
    explicit CRemovingUserInterface(std::string path) : m_path(std::move(path)) {}
    int RunLanguageDialog(CLanguageDialog& dialog) override {
      std::filesystem::remove(m_path);
      return CScriptedUserInterface::RunLanguageDialog(dialog);
    }

   private:
    std::string m_path;
  };
  WriteCatalog("<Config><Devices/></Config>");
  const std::string once = m_folder.Write("once.rsp", "/DEBUG\n");
  CRemovingUserInterface ui(once);
  IUserInterface* previous = InstalledUserInterface();
  SetUserInterface(&ui);
  m_view.Queue(WizardAction::Cancel);
  EXPECT_FALSE(Run({"@" + once}));
  SetUserInterface(previous);
  EXPECT_EQ(ui.languageDialogs.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(once));
  EXPECT_TRUE(TheWizardState().DebugMode);
}

}  // namespace
