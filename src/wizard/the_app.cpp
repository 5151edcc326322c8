#include "wizard/the_app.h"

#include <clocale>

#include "platform/ascii_text.h"
#include "platform/settings_store.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"
#include "wizard/command_line.h"
#include "wizard/done_page.h"
#include "wizard/flash_page.h"
#include "wizard/language_dialog.h"
#include "wizard/page_sequences.h"
#include "wizard/progress_page.h"
#include "wizard/response_file.h"
#include "wizard/start_page.h"
#include "wizard/wizard_sheet.h"
#include "wizard/wizard_state.h"

namespace {

constexpr const char* kSection = "Settings";

}  // namespace

CTheApp::CTheApp(IWizardSheetView& view, std::vector<std::string> args, std::string settingsDirectory)
    : m_view(view), m_args(std::move(args)), m_settingsDirectory(std::move(settingsDirectory)) {}

CTheApp::~CTheApp() {
  if (SettingsStore() == m_settings.get()) SetSettingsStore(nullptr);
}

std::string CTheApp::PosixLocaleFor(const std::string& runtimeName) {
  static const std::pair<const char*, const char*> names[] = {
      {"english", "en_US"}, {"german", "de_DE"},  {"french", "fr_FR"},
      {"dutch", "nl_NL"},   {"russian", "ru_RU"}, {"spanish", "es_ES"},
  };
  std::string lower = ToLowerAscii(runtimeName);
  for (const auto& [runtime, posix] : names) {
    if (lower == runtime) return posix;
  }
  return {};
}

bool CTheApp::SetRuntimeLocale(const std::string& runtimeName) {
  std::string posix = PosixLocaleFor(runtimeName);
  if (posix.empty()) posix = runtimeName;  // already a POSIX name ("de_DE.UTF-8"), or unknown
  for (const std::string& candidate : {posix + ".UTF-8", posix}) {
    if (candidate.empty() || std::setlocale(LC_ALL, candidate.c_str()) == nullptr) continue;
    // Numbers in files and in the environment are read with the C rules whatever the language.
    std::setlocale(LC_NUMERIC, "C");
    return true;
  }
  return false;
}

const CCommandLine& CTheApp::CommandLine() {
  // Read once: a response file may be a pipe or a process's output, which a second reading
  // would find empty.
  if (!m_commandLine) m_commandLine = CCommandLine::Parse(m_args);
  return *m_commandLine;
}

int CTheApp::ChooseLanguage() {
  // The settings are kept under the company and application names of the program's own
  // (English) resources, whichever language is chosen later.
  if (!m_settings) {
    m_settings = CreateIniSettingsStore(LoadResStringIn(1008, LANG_ENGLISH), LoadResStringIn(57344, LANG_ENGLISH),
                                        m_settingsDirectory);
    SetSettingsStore(m_settings.get());
  }
  std::optional<int> switchLanguage = CommandLine().LanguageId();
  int langId = switchLanguage ? *switchLanguage : m_settings->GetInt(kSection, "LangID", 0);
  SetUiLanguage(langId);

  if (!switchLanguage) {
    int choose = m_settings->GetInt(kSection, "ChooseLanguage", 1);
    if (choose != 0 || UserInterface().IsShiftKeyDown()) {
      CLanguageDialog dialog(UiLanguage(), choose == 0);
      if (dialog.DoModal() == IDOK) {
        langId = dialog.SelectedLanguage();
        SetUiLanguage(langId);
        m_settings->SetInt(kSection, "LangID", langId);
        m_settings->SetInt(kSection, "ChooseLanguage", dialog.DontShowAgain() ? 0 : 1);
      }
    }
  }

  std::string runtimeLocale = m_settings->GetString(kSection, "Language", "");
  if (runtimeLocale.empty()) runtimeLocale = LoadResString(1007);
  SetRuntimeLocale(runtimeLocale);  // a locale the system lacks is not an error
  return langId;
}

CStartPage::NextOutcome RunUpdateWizard(IWizardSheetView& view) {
  CMyPropertySheet sheet(view, 57344);
  CStartPage startPage;
  CFlashPage flashPage;
  CProgressPage progressPage;
  CDonePage donePage;
  sheet.AddWizardPage(&startPage);
  sheet.AddWizardPage(&flashPage);
  sheet.AddWizardPage(&progressPage);
  sheet.AddWizardPage(&donePage);
  sheet.SetPageSequence(kFullSequence, true);
  sheet.DoModal();
  return startPage.LastOutcome();
}

bool CTheApp::InitInstance() {
  ChooseLanguage();

  // The component libraries: the catalog's XML library (pugixml) needs no start-up of its
  // own on Linux, so this step cannot fail and message 1027 is never shown.

  const CCommandLine& commandLine = CommandLine();
  // Told once the language is known; the arguments after such a file still count.
  for (const CRefusedResponseFile& refused : commandLine.RefusedResponseFiles()) {
    UserInterface().MessageBox(RefusalText(refused), MB_OK | MB_ICONERROR);
  }
  TheWizardState().DebugMode = commandLine.DebugMode();

  RunUpdateWizard(m_view);

  // The current updater stays alive until the process ends.
  TheWizardState().Catalog.CloseCatalog();
  return false;
}
