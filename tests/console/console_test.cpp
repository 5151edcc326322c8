// The terminal front end, run in-process: the same core, the same road as the wizard.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>

#include <csignal>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "console/commands.h"
#include "console/console_session.h"
#include "console/console_user_interface.h"
#include "image/image_listing.h"
#include "platform/module_path.h"
#include "platform/settings_store.h"
#include "platform/string_table.h"
#include "support/temp_folder.h"
#include "support/test_updater.h"
#include "transport/usb_init_failed_dlg.h"
#include "updater/flash_progress.h"
#include "updater/stop_request.h"
#include "wizard/wizard_state.h"

namespace {

// The front end run in-process with its input given and its output caught.
struct ConsoleResult {
  int status = -1;
  std::string out;
  std::string err;
  // The last line of standard output (without its line feed).
  std::string LastLine() const;
};

struct ConsoleInput {
  std::string text;           // what standard input holds
  bool inIsTerminal = false;
  bool outIsTerminal = false;
};

std::string ConsoleResult::LastLine() const {
  std::string text = out;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  auto newline = text.rfind('\n');
  return newline == std::string::npos ? text : text.substr(newline + 1);
}

ConsoleResult RunConsoleCaptured(const std::vector<std::string>& args, const ConsoleInput& input = {}) {
  char* outBuffer = nullptr;
  std::size_t outSize = 0;
  char* errBuffer = nullptr;
  std::size_t errSize = 0;
  ConsoleStreams streams;
  std::string inText = input.text;
  streams.in = inText.empty() ? std::fopen("/dev/null", "r") : fmemopen(inText.data(), inText.size(), "r");
  streams.out = open_memstream(&outBuffer, &outSize);
  streams.err = open_memstream(&errBuffer, &errSize);
  streams.inIsTerminal = input.inIsTerminal;
  streams.outIsTerminal = input.outIsTerminal;
  ConsoleResult result;
  result.status = RunConsole(args, streams);
  std::fclose(streams.in);
  std::fclose(streams.out);
  std::fclose(streams.err);
  result.out.assign(outBuffer, outSize);
  result.err.assign(errBuffer, errSize);
  std::free(outBuffer);
  std::free(errBuffer);
  return result;
}

constexpr const char* kCatalog = R"(<Config><Devices>
  <Device Id="T1" RTC="CTestUpdater" USBPID="0x7D2A">
    <Name>Test One</Name><Firmware><Version>305</Version><File>fw\t1.hex</File></Firmware></Device>
  <Device Id="NOCLASS" RTC="CNoSuchUpdater">
    <Name>Unknown Class</Name><Firmware><Version>1</Version><File>u.hex</File></Firmware></Device>
  <Device Id="BAD" RTC="CTestUpdater"><Name>No Firmware</Name></Device>
</Devices></Config>)";

constexpr const char* kSucceeded = "Re-programming of the device succeeded.";
// The line under it: T1 and the firmware the device reported when it was met again.
constexpr const char* kT1Outcome = "T1 now reports firmware 3.05.";
// The status line while the device is met again after its programming.
constexpr const char* kChecking = "Checking the device: reading its version back...\n";
constexpr const char* kFailed = "An error has occurred during the re-programming of the firmware.";

// An environment variable for the length of a scope.
class CEnvironment {
 public:
  CEnvironment(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_previous = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~CEnvironment() {
    if (m_previous) {
      ::setenv(m_name, m_previous->c_str(), 1);
    } else {
      ::unsetenv(m_name);
    }
  }

 private:
  const char* m_name;
  std::optional<std::string> m_previous;
};

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest() : m_config("XDG_CONFIG_HOME", m_folder / "config") {
    ResetWizardState();
    m_catalog = m_folder.Write("devices/catalog.xml", kCatalog);
  }
  ~ConsoleTest() override { ResetWizardState(); }

  ConsoleResult Run(std::vector<std::string> args, const ConsoleInput& input = {}) {
    args.insert(args.begin(), {"--catalog", m_catalog});
    return RunConsoleCaptured(args, input);
  }

  CTempFolder m_folder;
  CEnvironment m_config;
  CTestUpdaterRegistration m_updater;
  std::string m_catalog;
};

TEST_F(ConsoleTest, ListPrintsTheStartPagesLines) {
  ConsoleResult result = Run({"list"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "T1\tTest One\nNOCLASS\tUnknown Class\nBAD\tNo Firmware\n");
  EXPECT_EQ(result.err, "");
}

TEST_F(ConsoleTest, MissingCatalogNamesItsPathAndExits2) {
  std::string missing = m_folder / "nowhere.config";
  for (const char* command : {"list", "update"}) {
    std::vector<std::string> args{"--catalog", missing, command};
    if (std::string(command) == "update") args.push_back("T1");
    ConsoleResult result = RunConsoleCaptured(args);
    EXPECT_EQ(result.status, 2) << command;
    EXPECT_EQ(result.out, "") << command;
    EXPECT_EQ(result.err, "Tavrix Update: " + missing +
                              "\nCannot find this file.\nPlease verify that the correct path and file name are given.\n")
        << command;
  }
}

// A pipe as the catalog would hold `list` in open() for ever, /dev/zero would be read without
// end: both are refused at once, by name.
TEST_F(ConsoleTest, ACatalogThatIsNoRegularFileIsRefusedAtOnce) {
  const std::string pipe = m_folder / "pipe.config";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (const std::string& catalog : {pipe, std::string("/dev/zero")}) {
    const auto start = std::chrono::steady_clock::now();
    ConsoleResult result = RunConsoleCaptured({"--catalog", catalog, "list"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(result.status, 2) << catalog;
    EXPECT_EQ(result.err, "Tavrix Update: " + catalog +
                              "\nThis is not a regular file (a pipe, a device or a folder), so it is not read.\n");
  }
}

// The program's settings file as a pipe: QSettings would wait in open() for ever; the run goes
// on with the default settings.
TEST_F(ConsoleTest, ASettingsFileThatIsNoRegularFileDoesNotHoldTheRun) {
  std::filesystem::create_directories(m_folder.Path() / "config/Tavrix");
  const std::string ini = m_folder / "config/Tavrix/Tavrix Update.ini";
  ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
  const auto start = std::chrono::steady_clock::now();
  ConsoleResult result = Run({"list"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "T1\tTest One\nNOCLASS\tUnknown Class\nBAD\tNo Firmware\n");
}

TEST_F(ConsoleTest, MalformedCatalogNamesItsLineAndExits2) {
  m_folder.Write("devices/catalog.xml", "<Config>\n  <Devices>\n    <Device Id=\"T1\">\n  </Devices>\n</Config>\n");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"list"}, {"update", "T1", "--yes"}}) {
    ConsoleResult result = Run(args);
    EXPECT_EQ(result.status, 2) << args[0];
    EXPECT_EQ(result.err, "Tavrix Update: " + m_catalog +
                              ":4: The catalog is not well-formed XML: an end tag does not match its start tag, "
                              "or an element is not closed.\n")
        << args[0];
  }
}

TEST_F(ConsoleTest, DefaultCatalogIsTheWizardsBesideTheProgram) {
  m_folder.Write("bin/tavrix-update.config", R"(<Config><Devices><Device Id="D"><Name>Default</Name></Device>
      </Devices></Config>)");
  SetModuleFileName(m_folder / "bin/tavrix-update-cli");
  ConsoleResult result = RunConsoleCaptured({"list"});
  SetModuleFileName({});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "D\tDefault\n");
}

struct SetupFailure {
  const char* name;
  const char* id;
  const char* message;
};

class ConsoleSetupFailures : public ConsoleTest, public ::testing::WithParamInterface<SetupFailure> {};

TEST_P(ConsoleSetupFailures, Exit2WithTheWizardsMessage) {
  ConsoleResult result = Run({"update", GetParam().id, "--yes"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, std::string("Tavrix Update: ") + GetParam().message + "\n");
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(TestUpdater().connects, 0);
}

INSTANTIATE_TEST_SUITE_P(Table, ConsoleSetupFailures,
                         ::testing::Values(SetupFailure{"UnknownClass", "NOCLASS", "Could not create Updater."},
                                           SetupFailure{"EntryUnusable", "BAD", "Could not load device information."}),
                         [](const auto& testCase) { return testCase.param.name; });

// An Id the catalog does not have is named, with the way to list the entries, and the entry
// that differs from it only in case is offered.
TEST_F(ConsoleTest, AnUnknownIdIsNamedWithTheEntryThatDiffersInCase) {
  struct Case {
    const char* id;
    std::string err;
  };
  const Case cases[] = {
      {"T9", "tavrix-update-cli: the catalog has no entry 'T9'\ntavrix-update-cli list names every entry\n"},
      {"t1", "tavrix-update-cli: the catalog has no entry 't1'; did you mean 'T1'?\n"
             "tavrix-update-cli list names every entry\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    ConsoleResult result = Run({"update", c.id, "--yes"});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(TestUpdater().connects, 0);
  }
}

// An unknown option or command is named; the help names every kind inspect takes.
TEST_F(ConsoleTest, UsageErrorsNameTheWordAndTheHelpNamesEveryInspectKind) {
  EXPECT_EQ(Run({"--frobnicate", "list"}).err, "tavrix-update-cli: unknown option '--frobnicate'; see tavrix-update-cli --help\n");
  EXPECT_EQ(Run({"frobnicate"}).err, "tavrix-update-cli: unknown command 'frobnicate'; see tavrix-update-cli --help\n");
  const std::string help = Run({"--help"}).out;
  const std::size_t inspect = help.find("inspect FILE --as ");
  ASSERT_NE(inspect, std::string::npos) << help;
  const std::string line = help.substr(inspect, help.find('\n', inspect) - inspect);
  ASSERT_GE(CImageListingRegistry::Instance().KindNames().size(), 5u);
  for (const std::string& kind : CImageListingRegistry::Instance().KindNames()) {
    EXPECT_TRUE(line.find(" " + kind + "|") != std::string::npos || line.find("|" + kind + "|") != std::string::npos ||
                line.find("|" + kind + " ") != std::string::npos)
        << kind << " missing in " << line;
  }
}

TEST_F(ConsoleTest, UpToDateDevicePrintsMessage40) {
  TestUpdater().firmware = 305;
  ConsoleResult result = Run({"update", "T1"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "The firmware version of the device is up to date (3.05). A firmware update is not required!\n");
  EXPECT_EQ(TestUpdater().updates, 0);
}

TEST_F(ConsoleTest, OlderDeviceIsProgrammedWithProgressLines) {
  TestUpdater().firmware = 300;
  TestUpdater().duringUpdate = [](IFlashProgress& progress) {
    progress.SetStatusText("Programming segment %d at %05X\n", 1, 0x400);
    progress.SetDetailText("/fw/t1.hex");
    progress.SetRange(0, 10);
    for (int i = 0; i <= 10; i += 5) progress.SetPos(i);
  };
  ConsoleResult result = Run({"--yes", "update", "T1"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "Programming segment 1 at 00400\n/fw/t1.hex\n0%\n50%\n100%\n" + std::string(kChecking) + kSucceeded + "\n" +
                            kT1Outcome + "\n");
  // The catalog's folder stands in for the program's folder.
  EXPECT_EQ(TestUpdater().updatedWith.FirmwarePath, m_folder / "devices/fw/t1.hex");
}

TEST_F(ConsoleTest, ProgressIsOneRefreshingLineOnATerminal) {
  TestUpdater().firmware = 300;
  TestUpdater().duringUpdate = [](IFlashProgress& progress) {
    progress.SetStatusText("Erasing");
    progress.SetRange(0, 4);
    progress.SetPos(1);
  };
  ConsoleResult result = Run({"--yes", "update", "T1"}, {"", false, true});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("\r\x1b[KErasing [#####               ] 25%"), std::string::npos) << result.out;
  EXPECT_EQ(result.LastLine(), kT1Outcome);
  // The progress line, then the result and the line that names the firmware.
  EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 3);
}

// While programming, one Ctrl+C only warns; a second one stops at the next safe point and
// the run ends with 130. The handlers are the previous ones again afterwards.
TEST_F(ConsoleTest, CtrlCWhileProgrammingWarnsOnceAndStopsAtTheSecond) {
  auto handler = [] {
    struct sigaction current {};
    sigaction(SIGINT, nullptr, &current);
    return current.sa_handler;
  };
  auto before = handler();
  TestUpdater().firmware = 300;
  TestUpdater().duringUpdate = [&](IFlashProgress&) {
    std::raise(SIGINT);
    StopIfRequested();  // a safe point: one interrupt does not stop
  };
  ConsoleResult once = Run({"--yes", "update", "T1"});
  EXPECT_EQ(once.status, 0);
  EXPECT_EQ(once.LastLine(), kT1Outcome);

  TestUpdater().duringUpdate = [&](IFlashProgress&) {
    std::raise(SIGINT);
    std::raise(SIGINT);
    StopIfRequested();
  };
  ConsoleResult twice = Run({"--yes", "update", "T1"});
  EXPECT_EQ(twice.status, 130);
  EXPECT_NE(twice.err.find(LoadResString(CProgrammingStopped::kMessageId)), std::string::npos) << twice.err;
  EXPECT_EQ(handler(), before);
}

TEST_F(ConsoleTest, ProgrammingNeedsConfirmation) {
  TestUpdater().firmware = 300;
  ConsoleResult script = Run({"update", "T1"});  // no terminal, no --yes
  EXPECT_EQ(script.status, 2);
  EXPECT_NE(script.err.find("--yes"), std::string::npos);
  ConsoleResult declined = Run({"update", "T1"}, {"n\n", true, false});
  EXPECT_EQ(declined.status, 2);
  EXPECT_NE(declined.err.find("Ready for programming."), std::string::npos);
  EXPECT_EQ(TestUpdater().updates, 0);
  ConsoleResult confirmed = Run({"update", "T1"}, {"y\n", true, false});
  EXPECT_EQ(confirmed.status, 0);
  EXPECT_EQ(confirmed.LastLine(), kT1Outcome);
  EXPECT_EQ(TestUpdater().updates, 1);
}

struct UpdateExit {
  const char* name;
  std::function<void()> script;
  int status;
  const char* lastLine;
  const char* err;
};

// Test names and failures name the case, not its bytes.
void PrintTo(const UpdateExit& exit, std::ostream* out) { *out << exit.name; }

class ConsoleUpdateExits : public ConsoleTest, public ::testing::WithParamInterface<UpdateExit> {};

TEST_P(ConsoleUpdateExits, FollowTheDonePage) {
  TestUpdater().firmware = 100;
  GetParam().script();
  ConsoleResult result = Run({"update", "T1", "--yes"});
  EXPECT_EQ(result.status, GetParam().status);
  // The done page's text as a line of its own (a success names the device's firmware after it).
  if (*GetParam().lastLine == '\0') {
    EXPECT_EQ(result.out, "");
  } else {
    EXPECT_NE(("\n" + result.out).find("\n" + std::string(GetParam().lastLine) + "\n"), std::string::npos) << result.out;
  }
  EXPECT_EQ(result.err, GetParam().err);
}

// What a run that reaches the flash page says about the versions first.
#define VERSIONS "tavrix-update-cli: T1: firmware 1.00 on the device, 3.05 in the catalog\n"

INSTANTIATE_TEST_SUITE_P(
    Table, ConsoleUpdateExits,
    ::testing::Values(UpdateExit{"Succeeded", [] {}, 0, kSucceeded, VERSIONS},
                      UpdateExit{"UpdateFalse", [] { TestUpdater().updateResult = false; }, 1, kFailed, VERSIONS},
                      UpdateExit{"UpdateThrows", [] { TestUpdater().updateThrows = "Write error."; }, 1, kFailed, VERSIONS},
                      UpdateExit{"FailureWithLog",
                                 [] {
                                   TestUpdater().updateResult = false;
                                   TestUpdater().downloadLog = "step 3 failed";
                                 },
                                 1, kFailed, VERSIONS "tavrix-update-cli: Download Log:\nstep 3 failed\n"},
                      UpdateExit{"SuccessWithLog",
                                 [] { TestUpdater().downloadLog = "Check for standard application failed.\n"; },
                                 0, kSucceeded,
                                 VERSIONS "tavrix-update-cli: Download Log:\nCheck for standard application failed.\n"},
                      UpdateExit{"NotConnected", [] { TestUpdater().connectResult = false; }, 3, "", ""},
                      UpdateExit{"ConnectThrows", [] { TestUpdater().connectThrows = "Read error."; }, 3, "",
                                 "Tavrix Update: Read error.\n"},
                      UpdateExit{"UpToDateDevice", [] { TestUpdater().firmware = 305; }, 0,
                                 "The firmware version of the device is up to date (3.05). A firmware update is not "
                                 "required!",
                                 ""}),
    [](const auto& testCase) { return testCase.param.name; });

// The project an application download sends is named once, in lines that stay, on a terminal
// as in a script.
TEST_F(ConsoleTest, ProjectIsNamedOnceAboveTheProgress) {
  TestUpdater().firmware = 300;
  TestUpdater().duringUpdate = [](IFlashProgress& progress) {
    progress.SetRange(0, 8);
    progress.ShowProject("/opt/tavrix/Drive003", "7 files to download (412 kByte)");
    progress.SetStatusText("Install GCI");
    progress.SetPos(8);
  };
  const std::string project = "Project folder: /opt/tavrix/Drive003\n7 files to download (412 kByte)\n";
  ConsoleResult script = Run({"--yes", "update", "T1"});
  EXPECT_EQ(script.status, 0);
  EXPECT_EQ(script.out, project + "Install GCI\n100%\n" + kChecking + kSucceeded + "\n" + kT1Outcome + "\n");
  ConsoleResult terminal = Run({"--yes", "update", "T1"}, {"", false, true});
  EXPECT_EQ(terminal.status, 0);
  EXPECT_NE(terminal.out.find("\n" + project + "\r\x1b[KInstall GCI"), std::string::npos) << terminal.out;
  ConsoleResult german = Run({"--lang", "1031", "--yes", "update", "T1"});
  EXPECT_EQ(german.out.rfind("Projektordner: /opt/tavrix/Drive003\n", 0), 0u) << german.out;
}

// A device that asks the person to turn a switch before it goes on (an OK/Cancel question while
// connecting). Without a terminal nobody can turn it: Cancel, and the script ends with exit 3
// instead of waiting; on a terminal the person answers.
struct SwitchCase {
  const char* name;
  ConsoleInput input;
  int status;
  int updates;
};

class ConsoleSwitchPrompt : public ConsoleTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(ConsoleSwitchPrompt, AsksOnATerminalAndCancelsOtherwise) {
  constexpr const char* kPrompt = "Switch the servo-drive control unit to \"OFF\".";
  TestUpdater().firmware = 300;
  int prompts = 0;
  TestUpdater().onConnect = [&prompts, kPrompt] {
    // The switch stands at RUN until the person has turned it and pressed OK.
    ++prompts;
    return UserInterface().MessageBox(kPrompt, MB_OKCANCEL) == IDOK;
  };
  ConsoleResult result = Run({"update", "T1"}, GetParam().input);
  EXPECT_EQ(result.status, GetParam().status);
  EXPECT_EQ(prompts, 1);
  EXPECT_EQ(result.err.rfind(std::string("Tavrix Update: ") + kPrompt + "\n", 0), 0u) << result.err;
  EXPECT_EQ(TestUpdater().updates, GetParam().updates);
}

INSTANTIATE_TEST_SUITE_P(Table, ConsoleSwitchPrompt,
                         ::testing::Values(SwitchCase{"NoTerminalCancels", {"o\ny\n", false, false}, 3, 0},
                                           SwitchCase{"TerminalOkGoesOn", {"o\ny\n", true, false}, 0, 1},
                                           SwitchCase{"TerminalCancel", {"c\n", true, false}, 3, 0},
                                           SwitchCase{"TerminalEndOfInputCancels", {"", true, false}, 3, 0}),
                         [](const auto& testCase) { return testCase.param.name; });

TEST_F(ConsoleTest, DebugProgramsAnUpToDateDevice) {
  TestUpdater().firmware = 305;
  ConsoleResult result = Run({"--debug", "--yes", "update", "T1"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.LastLine(), kT1Outcome);
  EXPECT_EQ(result.err, "tavrix-update-cli: T1: firmware 3.05 on the device, 3.05 in the catalog\n");
  EXPECT_EQ(TestUpdater().updates, 1);
  EXPECT_FALSE(TheWizardState().DebugMode);  // for the run only
}

TEST_F(ConsoleTest, LanguageFromTheOptionOrTheStoredChoice) {
  TestUpdater().firmware = 305;
  ConsoleResult german = Run({"--lang", "1031", "update", "T1"});
  EXPECT_EQ(german.LastLine(),
            "Die Firmware-Version des Geräts ist aktuell (3.05). Ein Firmware-Update ist nicht erforderlich!");
  EXPECT_EQ(CreateIniSettingsStore("Tavrix", "Tavrix Update", m_folder / "config")->GetInt("Settings", "LangID", -1),
            -1);  // not stored
  CreateIniSettingsStore("Tavrix", "Tavrix Update", m_folder / "config")->SetInt("Settings", "LangID", LANG_RUSSIAN);
  ConsoleResult russian = Run({"update", "T1"});
  EXPECT_EQ(russian.LastLine(), "Версия микропрограммы устройства актуальна (3.05). Обновление микропрограммы не требуется!");
  EXPECT_EQ(UiLanguage(), LANG_ENGLISH);  // put back after the run
}

TEST_F(ConsoleTest, TraceFileIsNamedInTheEnvironmentForTheRun) {
  ::unsetenv("TAVRIX_TRACE");
  std::string seen;
  TestUpdater().onConnect = [&seen] {
    if (const char* trace = std::getenv("TAVRIX_TRACE")) seen = trace;
    return false;
  };
  Run({"--trace", m_folder / "wire.log", "update", "T1"});
  EXPECT_EQ(seen, m_folder / "wire.log");
  EXPECT_EQ(std::getenv("TAVRIX_TRACE"), nullptr);
}

// A device that cannot be opened: the transport's connect loop asks the "Interface" dialog
// until it is answered with something other than Repeat.
TEST_F(ConsoleTest, OnFailureRetryGivesUpAfterTheRetries) {
  int shown = 0;
  TestUpdater().onConnect = [&shown] {
    for (;; ++shown) {
      if (CUsbInitFailedDlg(true, true, "Tavrix Quadrel Interface").DoModal() != CUsbInitFailedDlg::kRepeatButton) {
        return false;
      }
    }
  };
  ConsoleResult result = Run({"--on-failure", "retry", "--retries", "2", "update", "T1"});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(shown, 2);
  EXPECT_NE(result.err.find("No interface \"Tavrix Quadrel Interface\" can be found"), std::string::npos);
}

struct DialogCase {
  const char* name;
  std::optional<FailureAction> action;
  bool allowSimulation;
  bool allowExit;
  ConsoleInput input;
  std::vector<int> answers;  // results of successive dialogs
};

class InterfaceDialogAnswers : public ::testing::TestWithParam<DialogCase> {};

TEST_P(InterfaceDialogAnswers, FollowOptionsAndTheDialogsRules) {
  const DialogCase& c = GetParam();
  std::string inText = c.input.text;
  ConsoleSession session;
  session.streams.in = inText.empty() ? std::fopen("/dev/null", "r") : fmemopen(inText.data(), inText.size(), "r");
  session.streams.err = std::tmpfile();
  session.streams.out = std::tmpfile();
  session.streams.inIsTerminal = c.input.inIsTerminal;
  session.options.onFailure = c.action;
  session.options.retries = 1;
  CConsoleUserInterface ui(session);
  std::vector<int> answers;
  for (std::size_t i = 0; i < c.answers.size(); ++i) {
    CUsbInitFailedDlg dialog(c.allowSimulation, c.allowExit, "X");
    answers.push_back(ui.RunInterfaceDialog(dialog));
  }
  EXPECT_EQ(answers, c.answers);
  std::fclose(session.streams.in);
  std::fclose(session.streams.err);
  std::fclose(session.streams.out);
}

constexpr int kRepeat = CUsbInitFailedDlg::kRepeatButton;
constexpr int kSimulation = CUsbInitFailedDlg::kSimulationButton;
constexpr int kExit = CUsbInitFailedDlg::kExitButton;

INSTANTIATE_TEST_SUITE_P(
    Table, InterfaceDialogAnswers,
    ::testing::Values(
        DialogCase{"DefaultWithoutTerminalExits", std::nullopt, true, true, {}, {kExit}},
        DialogCase{"ExitOption", FailureAction::Exit, true, true, {}, {kExit, kExit}},
        DialogCase{"RetryThenExit", FailureAction::Retry, true, true, {}, {kRepeat, kExit, kExit}},
        DialogCase{"Simulate", FailureAction::Simulate, true, true, {}, {kSimulation}},
        DialogCase{"SimulateRefusedFallsBackToExit", FailureAction::Simulate, false, true, {}, {kExit}},
        // No Exit button: the dialog cannot be left, which counts as not shown (-1, Exit).
        DialogCase{"NoExitButton", FailureAction::Exit, false, false, {}, {-1}},
        DialogCase{"AskOnTerminal", std::nullopt, true, true, {"r\ns\n", true, false}, {kRepeat, kSimulation}},
        DialogCase{"AskIgnoresWhatIsNotOffered", std::nullopt, false, true, {"s\nq\nx\n", true, false}, {kExit}},
        DialogCase{"AskAtEndOfInputExits", std::nullopt, true, true, {"", true, false}, {kExit}},
        DialogCase{"OptionWinsOverTerminal", FailureAction::Simulate, true, true, {"x\n", true, false},
                   {kSimulation}}),
    [](const auto& testCase) { return testCase.param.name; });

struct QuestionCase {
  const char* name;
  unsigned style;
  ConsoleInput input;
  int answer;
};

class MessageBoxQuestions : public ::testing::TestWithParam<QuestionCase> {};

TEST_P(MessageBoxQuestions, PromptOrCancellingAnswer) {
  const QuestionCase& c = GetParam();
  std::string inText = c.input.text;
  ConsoleSession session;
  session.streams.in = inText.empty() ? std::fopen("/dev/null", "r") : fmemopen(inText.data(), inText.size(), "r");
  char* errBuffer = nullptr;
  std::size_t errSize = 0;
  session.streams.err = open_memstream(&errBuffer, &errSize);
  session.streams.out = std::tmpfile();
  session.streams.inIsTerminal = c.input.inIsTerminal;
  CConsoleUserInterface ui(session);
  EXPECT_EQ(ui.MessageBox("Go on?", c.style), c.answer);
  std::fclose(session.streams.in);
  std::fclose(session.streams.err);
  std::fclose(session.streams.out);
  EXPECT_EQ(std::string(errBuffer, errSize).rfind("Tavrix Update: Go on?\n", 0), 0u);
  std::free(errBuffer);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MessageBoxQuestions,
    ::testing::Values(QuestionCase{"OkOnly", MB_OK | MB_ICONERROR, {}, IDOK},
                      QuestionCase{"OkCancelWithoutTerminal", MB_OKCANCEL, {"o\n", false, false}, IDCANCEL},
                      QuestionCase{"YesNoWithoutTerminal", MB_YESNO | MB_ICONQUESTION, {}, IDNO},
                      QuestionCase{"OkCancelOnTerminal", MB_OKCANCEL, {"x\nok\n", true, false}, IDOK},
                      QuestionCase{"YesNoOnTerminal", MB_YESNO, {"Y\n", true, false}, IDYES},
                      QuestionCase{"YesNoAtEndOfInput", MB_YESNO, {"", true, false}, IDNO}),
    [](const auto& testCase) { return testCase.param.name; });

struct UsageCase {
  const char* name;
  std::vector<std::string> args;
};

class ConsoleUsageErrors : public ::testing::TestWithParam<UsageCase> {};

// A command line that cannot be read is one line that names what is wrong and points to the
// help, not the whole help; without any command the usage is shown.
TEST_P(ConsoleUsageErrors, Exit2WithOneLineOrTheUsage) {
  ConsoleResult result = RunConsoleCaptured(GetParam().args);
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  if (GetParam().args.empty()) {
    EXPECT_NE(result.err.find("usage: tavrix-update-cli"), std::string::npos);
    return;
  }
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  EXPECT_NE(result.err.find("; see tavrix-update-cli --help\n"), std::string::npos) << result.err;
}

INSTANTIATE_TEST_SUITE_P(Table, ConsoleUsageErrors,
                         ::testing::Values(UsageCase{"NoCommand", {}}, UsageCase{"UnknownCommand", {"flash"}},
                                           UsageCase{"UnknownOption", {"--force", "list"}},
                                           UsageCase{"LanguageNotHeld", {"--lang", "1040", "list"}},
                                           UsageCase{"LanguageNotANumber", {"--lang=de", "list"}},
                                           UsageCase{"BadFailureAction", {"--on-failure", "ignore", "list"}},
                                           UsageCase{"BadRetries", {"--retries", "-1", "list"}},
                                           UsageCase{"MissingValue", {"list", "--catalog"}}),
                         [](const auto& testCase) { return testCase.param.name; });

TEST(ConsoleUsage, HelpListsOptionsAndCommands) {
  ConsoleResult result = RunConsoleCaptured({"--help"});
  EXPECT_EQ(result.status, 0);
  for (const char* text : {"--catalog FILE", "--lang ID", "--debug", "--yes", "--on-failure ACTION", "--trace FILE",
                           "list ", "update ID", "exit status"}) {
    EXPECT_NE(result.out.find(text), std::string::npos) << text;
  }
}

TEST_F(ConsoleTest, WrongArgumentCountIsAUsageError) {
  EXPECT_EQ(Run({"update"}).status, 2);
  EXPECT_EQ(Run({"update", "T1", "T2"}).status, 2);
  EXPECT_EQ(Run({"list", "extra"}).status, 2);
}

TEST_F(ConsoleTest, DemoCatalogListsTheFourInterfacesFirst) {
  ConsoleResult result = RunConsoleCaptured({"list", "--catalog", TAVRIX_SOURCE_DIR "/resources/demo/tavrix-update.config"});
  EXPECT_EQ(result.status, 0);
  // The four 2A variants first; the other families follow, one or more entries each.
  EXPECT_TRUE(result.out.starts_with(
      "QI-2A1\tQuadrel Interface 2A, variant 1\nQI-2A2\tQuadrel Interface 2A, variant 2\n"
      "QI-2A3\tQuadrel Interface 2A, variant 3\nQI-2AB\tQuadrel Interface 2A, boot variant\n"))
      << result.out;
  EXPECT_NE(result.out.find("AT-MOTREVO\tAutomotive trainer MOTREVO\n"), std::string::npos);
  EXPECT_NE(result.out.find("ZT7720-4K\tZT7720-4K network unit\nZT7720-4M\tZT7720-4M network unit\n"), std::string::npos)
      << result.out;
}

// The built program, as a script runs it.
struct ProgramResult {
  int status;
  std::string out;
  std::string err;
};

ProgramResult RunProgram(const CTempFolder& folder, const std::string& args, const std::string& environment = {}) {
  std::string out = folder / "stdout.txt";
  std::string err = folder / "stderr.txt";
  std::string command = environment + "XDG_CONFIG_HOME='" + (folder / "config") + "' " TAVRIX_BIN_DIR "/tavrix-update-cli " + args +
                        " </dev/null >'" + out + "' 2>'" + err + "'";
  int raw = std::system(command.c_str());
  auto read = [](const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
  };
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read(out), read(err)};
}

TEST_F(ConsoleTest, ProgramListsAndRefusesAnUnknownUpdaterClass) {
  ProgramResult list = RunProgram(m_folder, "--catalog '" + m_catalog + "' list");
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "T1\tTest One\nNOCLASS\tUnknown Class\nBAD\tNo Firmware\n");
  ProgramResult update = RunProgram(m_folder, "--catalog '" + m_catalog + "' update NOCLASS --yes");
  EXPECT_EQ(update.status, 2);
  EXPECT_EQ(update.err, "Tavrix Update: Could not create Updater.\n");
  EXPECT_EQ(update.out, "");
}

TEST_F(ConsoleTest, ProgramPrintsItsVersion) {
  for (const char* args : {"--version", "list --version"}) {
    ProgramResult result = RunProgram(m_folder, args);
    EXPECT_EQ(result.status, 0) << args;
    EXPECT_EQ(result.out, "tavrix-update-cli 3.36\n") << args;
    EXPECT_EQ(result.err, "") << args;
  }
}

// `devices` says when the bus is empty, and names an emulated bus that is not there.
TEST_F(ConsoleTest, ProgramDevicesOnAnEmptyOrMissingBus) {
  std::filesystem::create_directories(m_folder.Path() / "bus");
  ProgramResult empty = RunProgram(m_folder, "devices", "TAVRIX_USB_BUS='" + (m_folder / "bus") + "' ");
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out, "");
  EXPECT_EQ(empty.err, "No device found.\n");
  ProgramResult missing = RunProgram(m_folder, "devices", "TAVRIX_USB_BUS='" + (m_folder / "no-bus") + "' ");
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "tavrix-update-cli: TAVRIX_USB_BUS names '" + (m_folder / "no-bus") + "', which is no folder\n");
}

TEST_F(ConsoleTest, ProgramWithAMissingCatalog) {
  ProgramResult result = RunProgram(m_folder, "--catalog '" + (m_folder / "none.config") + "' list");
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err.rfind("Tavrix Update: " + (m_folder / "none.config") + "\nCannot find this file.", 0), 0u);
}

}  // namespace
