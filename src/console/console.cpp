#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "console/commands.h"
#include "console/console_line.h"
#include "console/console_session.h"
#include "console/console_user_interface.h"
#include "platform/front_end.h"
#include "platform/module_path.h"
#include "platform/settings_store.h"
#include "platform/string_table.h"
#include "updater/device_catalog.h"
#include "wizard/wizard_state.h"

namespace {

constexpr const char* kProgram = "tavrix-update-cli";
// Both front ends read the same catalog by default: the wizard's, beside the program.
constexpr const char* kDefaultCatalog = "tavrix-update.config";

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "usage: %s [OPTIONS] COMMAND [ARGS]\n"
               "  --catalog FILE       the device catalog; default: %s beside this program (the\n"
               "                       wizard's own catalog), or when none lies there the one in\n"
               "                       %s from the program's folder (installed).\n"
               "                       The catalog's folder then stands in for the program's folder\n"
               "                       (firmware files, project folders).\n"
               "  --lang ID            1031, 1033, 1036, 1043, 1049 or 3082 for this run (not stored);\n"
               "                       default: the stored LangID, else 1033\n"
               "  --debug              as the wizard's DEBUG switch: program up-to-date devices too\n"
               "  --yes                do not ask before programming (the flash page's question)\n"
               "  --json               JSON lines on standard output (one object per line, each with\n"
               "                       its \"type\"); text meant for people goes to standard error\n"
               "  --on-failure ACTION  answer when a device cannot be opened or identified: retry\n"
               "                       (at most --retries N times, default 3, then exit), simulate\n"
               "                       or exit; default: ask on a terminal, exit otherwise\n"
               "  --retries N          see --on-failure retry\n"
               "  --trace FILE         write the wire trace to FILE\n"
               "  --help               this text\n"
               "  --version            the program's name and version\n"
               "commands:\n",
               kProgram, kDefaultCatalog, DeviceCatalog::InstalledDataFolder());
  for (const auto& command : ConsoleCommands()) std::fprintf(out, "  %s\n", command.usage().c_str());
  std::fprintf(out,
               "exit status: 0 programmed or up to date; 1 programming failed;\n"
               "             2 usage error, catalog missing, entry unusable, updater not created,\n"
               "               programming not confirmed or history unreadable;\n"
               "             3 not connected (the device could not be opened or identified, or exit chosen)\n");
}

// What one run changes in the process, put back when it ends.
class CConsoleRun {
 public:
  CConsoleRun(ConsoleSession& session, CConsoleUserInterface& ui)
      : m_previousUi(InstalledUserInterface()),
        m_previousStore(SettingsStore()),
        m_previousLanguage(UiLanguage()),
        m_previousModule(ModuleFileName()),
        m_previousDebug(TheWizardState().DebugMode),
        m_previousFrontEnd(FrontEndName()) {
    SetFrontEndName(kProgram);
    if (const char* trace = std::getenv("TAVRIX_TRACE")) m_previousTrace = trace;
    SetConsole(&session);
    session.ui = &ui;
    SetUserInterface(&ui);
    m_settings = CreateIniSettingsStore(LoadResStringIn(1008, LANG_ENGLISH), LoadResStringIn(57344, LANG_ENGLISH));
    SetSettingsStore(m_settings.get());
    const ConsoleOptions& options = session.options;
    int stored = m_settings->GetInt("Settings", "LangID", 0);
    SetUiLanguage(options.lang.value_or(IsHeldLanguage(stored) ? stored : LANG_ENGLISH));
    if (options.catalog.empty()) {
      DeviceCatalog::SetCatalogFile(DeviceCatalog::LocateCatalogFile(kDefaultCatalog));
    } else {
      std::filesystem::path catalog = std::filesystem::absolute(options.catalog);
      DeviceCatalog::SetCatalogFile(catalog.string());
      SetModuleFileName((catalog.parent_path() / kProgram).string());
    }
    TheWizardState().DebugMode = options.debug;
    if (!options.trace.empty()) ::setenv("TAVRIX_TRACE", options.trace.c_str(), 1);
  }

  ~CConsoleRun() {
    if (m_previousTrace) {
      ::setenv("TAVRIX_TRACE", m_previousTrace->c_str(), 1);
    } else {
      ::unsetenv("TAVRIX_TRACE");
    }
    TheWizardState().DebugMode = m_previousDebug;
    TheWizardState().VerifyAfterUpdate = true;
    SetFrontEndName(m_previousFrontEnd);
    SetModuleFileName(m_previousModule);
    DeviceCatalog::SetCatalogFile({});
    SetUiLanguage(m_previousLanguage);
    SetSettingsStore(m_previousStore);
    SetUserInterface(m_previousUi);
    SetConsole(nullptr);
  }

  CConsoleRun(const CConsoleRun&) = delete;
  CConsoleRun& operator=(const CConsoleRun&) = delete;

 private:
  IUserInterface* m_previousUi;
  ISettingsStore* m_previousStore;
  int m_previousLanguage;
  std::string m_previousModule;
  bool m_previousDebug;
  std::string m_previousFrontEnd;
  std::optional<std::string> m_previousTrace;
  std::unique_ptr<ISettingsStore> m_settings;
};

}  // namespace

int RunConsole(const CommandArgs& args) { return RunConsole(args, ConsoleStreams::Standard()); }

int RunConsole(const CommandArgs& args, const ConsoleStreams& streams) {
  ParsedConsoleLine parsed = ParseConsoleLine(args);
  if (parsed.help) {
    PrintUsage(streams.out);
    return kExitOk;
  }
  if (parsed.version) {
    std::fprintf(streams.out, "%s %s\n", kProgram, TAVRIX_VERSION_TEXT);
    return kExitOk;
  }
  if (!parsed.error.empty()) {
    std::fprintf(streams.err, "%s: %s; see %s --help\n", kProgram, parsed.error.c_str(), kProgram);
    return kExitSetup;
  }
  if (parsed.positional.empty()) {
    std::fprintf(streams.err, "%s: no command\n", kProgram);
    PrintUsage(streams.err);
    return kExitSetup;
  }
  const ConsoleCommand* command = nullptr;
  for (const auto& candidate : ConsoleCommands()) {
    if (parsed.positional[0] == candidate.name) command = &candidate;
  }
  if (command == nullptr) {
    std::fprintf(streams.err, "%s: unknown command '%s'; see %s --help\n", kProgram, parsed.positional[0].c_str(),
                 kProgram);
    return kExitSetup;
  }
  ConsoleSession session{streams, parsed.options};
  if (parsed.options.json) {
    // Standard output carries only JSON lines; everything for people goes to standard error.
    session.json = streams.out;
    session.streams.out = streams.err;
    session.streams.outIsTerminal = false;
  }
  CConsoleUserInterface ui(session);
  CConsoleRun run(session, ui);
  int status = command->run(CommandArgs(parsed.positional.begin() + 1, parsed.positional.end()));
  ui.Progress().Break();
  std::fflush(streams.out);
  std::fflush(streams.err);
  return status;
}
