// The terminal's "Server Login" prompts and its answer to the "Connect" dialog from
// --address. (The Connect dialog's searches run only in the namespace tests: a search here
// would broadcast on the machine's own networks.)

#include <gtest/gtest.h>

#include <cstdio>

#include "console/console_session.h"
#include "console/console_user_interface.h"
#include "net/socket_login_dlg.h"
#include "net/udp_connect_dlg.h"
#include "transport/usb_init_failed_dlg.h"
#include "platform/string_table.h"
#include "platform/user_interface.h"

namespace {

// A session whose standard input holds `input`; what it writes is kept in temporary files.
class CConsoleScope {
 public:
  explicit CConsoleScope(std::string input, bool terminal) : m_input(std::move(input)) {
    SetUiLanguage(LANG_ENGLISH);
    session.streams.in = m_input.empty() ? std::fopen("/dev/null", "r") : fmemopen(m_input.data(), m_input.size(), "r");
    session.streams.err = std::tmpfile();
    session.streams.out = std::tmpfile();
    session.streams.inIsTerminal = terminal;
  }
  ~CConsoleScope() {
    std::fclose(session.streams.in);
    std::fclose(session.streams.err);
    std::fclose(session.streams.out);
  }
  std::string Errors() const {
    std::string text;
    std::rewind(session.streams.err);
    int c;
    while ((c = std::fgetc(session.streams.err)) != EOF) text += static_cast<char>(c);
    return text;
  }
  ConsoleSession session;

 private:
  std::string m_input;
};

}  // namespace

TEST(ConsoleServerLogin, PromptsForTheServerAndAsksAgainAfterARefusedField) {
  CConsoleScope console("\n\nr\nsrv\nabc\nr\n10.0.0.1\n9000\nr\n", true);
  CConsoleUserInterface ui(console.session);
  IUserInterface* previous = InstalledUserInterface();
  SetUserInterface(&ui);  // the dialog's messages go to the terminal
  CSocketLoginDlg keep(true, true);
  keep.host = "192.168.0.20";
  keep.port = 8080;
  EXPECT_EQ(ui.RunSocketLoginDialog(keep), CSocketLoginDlg::kRepeatButton) << "empty answers keep the values";
  EXPECT_EQ(keep.host, "192.168.0.20");
  EXPECT_EQ(keep.port, 8080);

  CSocketLoginDlg edit(true, true);
  EXPECT_EQ(ui.RunSocketLoginDialog(edit), CSocketLoginDlg::kRepeatButton);
  EXPECT_EQ(edit.host, "10.0.0.1");
  EXPECT_EQ(edit.port, 9000);
  EXPECT_NE(console.Errors().find("Please enter a positive integer."), std::string::npos) << console.Errors();
  SetUserInterface(previous);
}

TEST(ConsoleServerLogin, FollowsOnFailureAndNeverWaitsWithoutAnExit) {
  struct Row {
    std::optional<FailureAction> action;
    bool allowSimulation;
    bool allowExit;
    std::vector<int> results;
  };
  const Row rows[] = {
      {std::nullopt, true, true, {2}},
      {FailureAction::Retry, true, true, {4, 2}},  // --retries 1
      {FailureAction::Simulate, true, false, {6}},
      {FailureAction::Simulate, false, false, {-1}},
      {FailureAction::Exit, true, false, {-1}},
  };
  for (const Row& row : rows) {
    CConsoleScope console("", false);
    console.session.options.onFailure = row.action;
    console.session.options.retries = 1;
    CConsoleUserInterface ui(console.session);
    std::vector<int> results;
    for (std::size_t i = 0; i < row.results.size(); ++i) {
      CSocketLoginDlg dialog(row.allowSimulation, row.allowExit);
      dialog.host = "server";
      dialog.port = 8080;
      results.push_back(ui.RunSocketLoginDialog(dialog));
    }
    EXPECT_EQ(results, row.results);
  }
}

TEST(ConsoleConnect, TheAddressOptionAnswersTheDialog) {
  struct Row {
    const char* address;
    int result;
    const char* host;
    std::uint16_t port;
  };
  const Row rows[] = {
      {"127.0.0.1", IDOK, "127.0.0.1", 502},
      {"127.0.0.1:5020", IDOK, "127.0.0.1", 5020},
      {"127.0.0.1:65536", IDCANCEL, "", 502},
      {"127.0.0.1:x", IDCANCEL, "", 502},
      {"0.0.0.0", IDCANCEL, "", 502},
      {"0.0.0.0:502", IDCANCEL, "", 502},
  };
  for (const Row& row : rows) {
    CConsoleScope console("", false);
    console.session.options.address = row.address;
    CConsoleUserInterface ui(console.session);
    // The dialog's own refusal is a message box of the interface in use.
    IUserInterface* previous = InstalledUserInterface();
    SetUserInterface(&ui);
    CUdpConnectDlg dialog(7720, 7719);
    dialog.port = 502;
    EXPECT_EQ(ui.RunConnectDialog(dialog), row.result) << row.address;
    SetUserInterface(previous);
    if (row.result == IDOK) {
      EXPECT_EQ(dialog.address, row.host);
    }
    EXPECT_EQ(dialog.port, row.port) << row.address;
    // A refused address ends the command as a wrong command line does.
    EXPECT_EQ(ui.LastConnectOutcome() == CConsoleUserInterface::ConnectOutcome::AddressRefused, row.result != IDOK)
        << row.address;
  }
}

// A Server Login without an address can never connect: --on-failure retry stops at once, with
// the dialog's own refusal, instead of retrying what cannot work.
TEST(ConsoleServerLogin, RetryingAnEmptyAddressEndsAtOnce) {
  CConsoleScope console("", false);
  console.session.options.onFailure = FailureAction::Retry;
  console.session.options.retries = 5;
  CConsoleUserInterface ui(console.session);
  IUserInterface* previous = InstalledUserInterface();
  SetUserInterface(&ui);
  CSocketLoginDlg dialog(true, true);
  dialog.host = "";
  dialog.port = 8080;
  EXPECT_EQ(ui.RunSocketLoginDialog(dialog), CSocketLoginDlg::kExitButton);
  SetUserInterface(previous);
  const std::string errors = console.Errors();
  EXPECT_NE(errors.find(LoadResString(20019)), std::string::npos) << errors;
  EXPECT_EQ(errors.find("giving up"), std::string::npos) << errors;
}

// The "Interface" prompt shows its default, "Repeat Initialising", in capitals; Enter takes it.
TEST(ConsoleInterfaceDialog, EnterTakesTheDefaultShownInCapitals) {
  CConsoleScope console("\n", true);
  CConsoleUserInterface ui(console.session);
  CUsbInitFailedDlg dialog(false, true, "Tavrix Demo");
  EXPECT_EQ(ui.RunInterfaceDialog(dialog), *dialog.PressButton(CUsbInitFailedDlg::kRepeatButton));
  EXPECT_NE(console.Errors().find("[R] "), std::string::npos) << console.Errors();
  EXPECT_NE(console.Errors().find(", [x] "), std::string::npos) << console.Errors();
}
