#pragma once
// The application object: start-up in its order (language, component libraries, command
// line), then the wizard's modal run, then the catalog released.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "wizard/command_line.h"
#include "wizard/start_page.h"

class IWizardSheetView;
class ISettingsStore;

// Builds the wizard sheet with its four pages on `view`, sets the full page sequence and runs
// the sheet modally until it ends. Both front ends walk the wizard through this. Returns how
// the start page's last Next ended, which tells a script why the wizard stopped early.
CStartPage::NextOutcome RunUpdateWizard(IWizardSheetView& view);

class CTheApp {
 public:
  // `args` are the arguments after the program name. The settings live in the user's
  // configuration folder, or below `settingsDirectory` when one is given (tests).
  CTheApp(IWizardSheetView& view, std::vector<std::string> args, std::string settingsDirectory = {});
  ~CTheApp();

  // Runs the whole program; returns false, so that the program ends afterwards.
  bool InitInstance();

  // Step 1 alone: reads the command line and the stored settings, shows the "Language
  // Selection" dialog when asked for, stores the choice, sets the language and the C runtime
  // locale. Returns the language chosen (0: the system's).
  int ChooseLanguage();

  // The settings store (created by the first step).
  ISettingsStore* Settings() const { return m_settings.get(); }

  // The POSIX locale for a C runtime locale name ("english", "german", ...); empty when the
  // name is not known.
  static std::string PosixLocaleFor(const std::string& runtimeName);
  // Sets the C runtime locale from the name; a locale the system lacks is not an error.
  static bool SetRuntimeLocale(const std::string& runtimeName);

 private:
  IWizardSheetView& m_view;
  // The command line, response files read, once per run.
  const CCommandLine& CommandLine();

  std::vector<std::string> m_args;
  std::optional<CCommandLine> m_commandLine;
  std::string m_settingsDirectory;
  std::unique_ptr<ISettingsStore> m_settings;
};
