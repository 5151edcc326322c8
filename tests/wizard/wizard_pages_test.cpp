// The update wizard's pages, row by row through the page flow, started as the program starts.

#include <gtest/gtest.h>

#include "platform/string_table.h"
#include "platform/text_format.h"
#include "transport/stream_exception.h"
#include "platform/user_interface.h"
#include "support/wizard_fixture.h"
#include "transport/usb_init_failed_dlg.h"
#include "updater/flash_progress.h"
#include "wizard/done_page.h"
#include "wizard/flash_page.h"
#include "wizard/page_sequences.h"
#include "wizard/start_page.h"
#include "wizard/update_verification.h"
#include "wizard/wizard_state.h"

namespace {

constexpr const char* kCatalog = R"(<?xml version="1.0"?>
<Config><Devices>
  <Device Id="T1" RTC="CTestUpdater" USBPID="0x1234">
    <Name>Test One</Name><Firmware><Version>305</Version><File>fw\t1.hex</File></Firmware></Device>
  <Device Id="APP" RTC="CTestUpdater">
    <Name>With Application</Name><Firmware><Version>123</Version><File>a.hex</File></Firmware>
    <Application><Version>10</Version></Application></Device>
  <Device Id="BAD" RTC="CTestUpdater"><Name>No Firmware</Name></Device>
  <Device Id="UNKNOWN" RTC="CNoSuchUpdater">
    <Name>Unknown Class</Name><Firmware><Version>1</Version><File>u.hex</File></Firmware></Device>
  <Device Id="CASE" RTC="ctestupdater">
    <Name>Wrong Case</Name><Firmware><Version>1</Version><File>c.hex</File></Firmware></Device>
  <Device Id="EMPTY">
    <Name>No Class</Name><Firmware><Version>1</Version><File>e.hex</File></Firmware></Device>
  <Device Id="ZERO" RTC="CTestUpdater">
    <Name>Version Zero</Name><Firmware><Version>0</Version><File>z.hex</File></Firmware></Device>
  <Device Id="T1" RTC="CNoSuchUpdater">
    <Name>Duplicate</Name><Firmware><Version>9</Version><File>d.hex</File></Firmware></Device>
</Devices></Config>)";

// Line indexes of the catalog above.
enum Line { kT1, kApp, kBad, kUnknown, kCase, kEmpty, kZero, kT1Duplicate };

constexpr const char* kSucceeded = "Re-programming of the device succeeded.";
constexpr const char* kFailed = "An error has occurred during the re-programming of the firmware.";

class WizardPages : public WizardFixture {
 protected:
  void SetUp() override {
    StoreInt("ChooseLanguage", 0);
    WriteCatalog(kCatalog);
  }
  void Choose(Line line) {
    m_view.QueueSelection(kStartPageId, CStartPage::kDeviceList, line);
    m_view.Queue(WizardAction::Next);
  }
  std::string DoneText() const { return m_view.Text(kDonePageId, 102); }
  bool AnyBackButton() const {
    for (unsigned flags : m_view.buttonStates) {
      if (flags & PSWIZB_BACK) return true;
    }
    return false;
  }
  WizardState& State() { return TheWizardState(); }
};

TEST_F(WizardPages, CatalogThatDoesNotLoadLeavesAnEmptyStartPage) {
  WriteCatalog("<Config><Devices>");
  m_view.Queue(WizardAction::Next);  // nothing selected: stays
  m_view.Queue(WizardAction::Cancel);
  EXPECT_FALSE(Run());
  ASSERT_EQ(m_ui.MessageTexts().size(), 1u);
  EXPECT_EQ(m_ui.MessageTexts()[0], CatalogPath() +
                                        ":1: The catalog is not well-formed XML: an end tag does not match its "
                                        "start tag, or an element is not closed.");
  EXPECT_TRUE(m_view.lists.empty());
  EXPECT_TRUE(m_view.buttonStates.empty());  // not recomputed
  EXPECT_EQ(m_view.shownPages, std::vector<int>{kStartPageId});
  EXPECT_EQ(TestUpdater().created, 0);
}

TEST_F(WizardPages, CatalogLoadedFillsTheListAndSelectsTheFirstLine) {
  m_view.Queue(WizardAction::Cancel);
  Run();
  const auto& lines = m_view.lists[{kStartPageId, CStartPage::kDeviceList}];
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[kT1], "T1\tTest One");
  EXPECT_EQ(lines[kT1Duplicate], "T1\tDuplicate");
  EXPECT_EQ((m_view.selection[{kStartPageId, CStartPage::kDeviceList}]), 0);
  EXPECT_EQ(m_view.buttonStates, std::vector<unsigned>{PSWIZB_NEXT});
  EXPECT_EQ(m_view.caption, "Tavrix Update");
  EXPECT_TRUE(m_ui.MessageTexts().empty());
  EXPECT_EQ(m_view.Text(kDonePageId, CDonePage::kOutcomeText), "");
}

TEST_F(WizardPages, EmptyCatalogSelectsNothingAndNextStays) {
  WriteCatalog("<Config><Devices/></Config>");
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Cancel);
  Run();
  EXPECT_EQ(m_view.shownPages, std::vector<int>{kStartPageId});
  EXPECT_TRUE(m_view.selection.empty());
  EXPECT_TRUE(m_ui.MessageTexts().empty());
}

struct StartFailure {
  const char* name;
  Line line;
  std::function<void()> script;
  std::vector<std::string> messages;
  int created;
};

class StartPageFailures : public WizardPages, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(StartPageFailures, StayOnTheStartPage) {
  if (GetParam().script) GetParam().script();
  Choose(GetParam().line);
  m_view.onWait = [](CScriptedSheetView& view) {
    if (view.waits == 3) {
      EXPECT_EQ(view.lists.begin()->second.size(), 8u);  // the list is intact
    }
  };
  m_view.Queue(WizardAction::Cancel);
  Run();
  EXPECT_EQ(m_view.shownPages, std::vector<int>{kStartPageId});
  EXPECT_EQ(m_ui.MessageTexts(), GetParam().messages);
  for (const auto& shown : m_ui.Record()) {
    if (shown.kind == "message") {
      EXPECT_EQ(shown.style, unsigned{MB_OK});
    }
  }
  EXPECT_EQ(TestUpdater().created, GetParam().created);
  EXPECT_EQ(TestUpdater().updates, 0);
  EXPECT_EQ(m_ui.waitCursorDepth, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StartPageFailures,
    ::testing::Values(
        StartFailure{"EntryUnusable", kBad, nullptr, {"Could not load device information."}, 0},
        StartFailure{"UnknownClass", kUnknown, nullptr, {"Could not create Updater."}, 0},
        StartFailure{"WrongCaseClass", kCase, nullptr, {"Could not create Updater."}, 0},
        StartFailure{"NoClass", kEmpty, nullptr, {"Could not create Updater."}, 0},
        StartFailure{"ConnectFalse", kT1, [] { TestUpdater().connectResult = false; }, {}, 1},
        StartFailure{"ConnectThrows", kT1, [] { TestUpdater().connectThrows = "Read error."; }, {"Read error."}, 1},
        StartFailure{"VersionThrows", kT1, [] { TestUpdater().versionThrows = "Timeout."; }, {"Timeout."}, 1}),
    [](const auto& testCase) { return testCase.param.name; });

TEST_F(WizardPages, EachNextAfterAFailedConnectCreatesAFreshUpdater) {
  TestUpdater().connectResult = false;
  Choose(kT1);
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Cancel);
  Run();
  EXPECT_EQ(TestUpdater().created, 2);
  EXPECT_EQ(TestUpdater().destroyed, 1);
  EXPECT_EQ(TestUpdater().connects, 2);
}

// "Exit Program" in the "Interface" dialog ends the program, as its label says, instead of
// returning to the start page.
TEST_F(WizardPages, ExitProgramInTheInterfaceDialogEndsTheWizard) {
  TestUpdater().onConnect = [] { return CUsbInitFailedDlg(false, true, "Tavrix Test").DoModal() != CUsbInitFailedDlg::kExitButton; };
  m_ui.QueueInterfaceAnswer(CUsbInitFailedDlg::kExitButton);
  Choose(kT1);
  m_view.Queue(WizardAction::Next);  // never taken: the wizard has ended
  EXPECT_FALSE(Run());
  EXPECT_EQ(TestUpdater().connects, 1);
  EXPECT_EQ(TestUpdater().updates, 0);
  EXPECT_EQ(m_view.shownPages, std::vector<int>{kStartPageId});
  EXPECT_EQ(m_view.waits, 2) << "the selection, then Next; nothing after it";
}

TEST_F(WizardPages, UpdaterNotCreatedLeavesNoUpdaterBehind) {
  TestUpdater().connectResult = false;
  Choose(kT1);
  Choose(kUnknown);
  m_view.Queue(WizardAction::Cancel);
  Run();
  EXPECT_EQ(TestUpdater().destroyed, 1);
  EXPECT_EQ(State().Updater, nullptr);
}

TEST_F(WizardPages, UpToDateGoesStraightToTheDonePage) {
  TestUpdater().firmware = 305;
  Choose(kT1);
  m_view.Queue(WizardAction::Finish);
  Run();
  EXPECT_EQ(m_view.shownPages, (std::vector<int>{kStartPageId, kDonePageId}));
  EXPECT_EQ(DoneText(), "The firmware version of the device is up to date (3.05). A firmware update is not required!");
  EXPECT_EQ(m_view.buttons, unsigned{PSWIZB_FINISH});
  EXPECT_TRUE(m_view.cancelToClose);
  EXPECT_EQ(TestUpdater().updates, 0);
  EXPECT_EQ(State().DoneMessageId, 40);
  EXPECT_FALSE(State().Catalog.IsOpen());  // released when the wizard closed
  EXPECT_NE(State().Updater, nullptr);     // the updater lives on
}

TEST_F(WizardPages, NewerDeviceIsUpToDate) {
  TestUpdater().firmware = 400;
  Choose(kT1);
  m_view.Queue(WizardAction::Finish);
  Run();
  EXPECT_EQ(m_view.shownPages, (std::vector<int>{kStartPageId, kDonePageId}));
  EXPECT_NE(DoneText().find("(4.00)"), std::string::npos);
}

TEST_F(WizardPages, OlderDeviceIsProgrammedThroughFlashAndProgressPages) {
  TestUpdater().firmware = 304;
  unsigned buttonsDuringUpdate = 99;
  bool cancelDuringUpdate = true;
  TestUpdater().duringUpdate = [&](IFlashProgress&) {
    buttonsDuringUpdate = m_view.buttons;
    cancelDuringUpdate = m_view.cancelEnabled;
  };
  Choose(kT1);
  m_view.onWait = [](CScriptedSheetView& view) {
    if (view.shownPage == kFlashPageId) {
      EXPECT_EQ(view.buttons, unsigned{PSWIZB_NEXT});
    }
  };
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Finish);
  Run();
  EXPECT_EQ(m_view.shownPages, (std::vector<int>{kStartPageId, kFlashPageId, kProgressPageId, kDonePageId}));
  EXPECT_EQ(m_view.Text(kFlashPageId, CFlashPage::kFoundDevice), "T1: firmware 3.04 on the device, 3.05 in the catalog");
  EXPECT_EQ(TestUpdater().updates, 1);
  EXPECT_EQ(TestUpdater().updatedWith.FirmwarePath, m_folder / "fw/t1.hex");
  EXPECT_EQ(TestUpdater().updatedWith.UsbPid, 0x1234);
  EXPECT_EQ(buttonsDuringUpdate, 0u);
  EXPECT_FALSE(cancelDuringUpdate);
  EXPECT_EQ(DoneText(), kSucceeded);
  EXPECT_EQ(m_view.buttons, unsigned{PSWIZB_FINISH});
  EXPECT_FALSE(m_view.cancelEnabled);
  EXPECT_FALSE(AnyBackButton());  // Back is never available
  EXPECT_EQ(State().DeviceFirmwareVersion, 304);
}

TEST_F(WizardPages, CancelOnTheFlashPageProgramsNothing) {
  TestUpdater().firmware = 100;
  Choose(kT1);
  m_view.Queue(WizardAction::Cancel);
  Run();
  EXPECT_EQ(m_view.shownPages, (std::vector<int>{kStartPageId, kFlashPageId}));
  EXPECT_EQ(TestUpdater().updates, 0);
}

struct DebugCase {
  const char* name;
  std::vector<std::string> args;
  Line line;
  std::uint16_t deviceFirmware;
  std::vector<int> pages;
  int updates;
  std::string done;
};

class DebugSwitch : public WizardPages, public ::testing::WithParamInterface<DebugCase> {};

TEST_P(DebugSwitch, DecidesWhetherAnUpToDateDeviceIsProgrammed) {
  TestUpdater().firmware = GetParam().deviceFirmware;
  Choose(GetParam().line);
  if (GetParam().pages.size() > 2) m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Finish);
  Run(GetParam().args);
  EXPECT_EQ(m_view.shownPages, GetParam().pages);
  EXPECT_EQ(TestUpdater().updates, GetParam().updates);
  EXPECT_EQ(DoneText().substr(0, GetParam().done.size()), GetParam().done);
}

const std::vector<int> kAllPages{kStartPageId, kFlashPageId, kProgressPageId, kDonePageId};

INSTANTIATE_TEST_SUITE_P(
    Table, DebugSwitch,
    ::testing::Values(
        DebugCase{"DebugProgramsUpToDateDevice", {"/DEBUG"}, kT1, 305, kAllPages, 1, kSucceeded},
        DebugCase{"DashDebugToo", {"-DEBUG"}, kT1, 900, kAllPages, 1, kSucceeded},
        DebugCase{"LowerCaseDebugDoesNot", {"/debug"}, kT1, 305, {kStartPageId, kDonePageId}, 0,
                  "The firmware version of the device is up to date (3.05)"},
        // Version 0 in the catalog: 0 < 0 is false, nothing is programmed, success is shown.
        DebugCase{"DebugWithCatalogVersionZero", {"/DEBUG"}, kZero, 0, kAllPages, 0, kSucceeded}),
    [](const auto& testCase) { return testCase.param.name; });

TEST_F(WizardPages, DebugZeroesTheStoredVersions) {
  TestUpdater().firmware = 305;
  TestUpdater().duringUpdate = [this](IFlashProgress&) {
    EXPECT_EQ(State().DeviceFirmwareVersion, 0);
    EXPECT_EQ(State().DeviceApplicationVersion, 0);
  };
  Choose(kT1);
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Finish);
  Run({"/DEBUG"});
  EXPECT_EQ(TestUpdater().updates, 1);
  // The flash page names the version the device reported, not the zero that forces programming.
  EXPECT_EQ(m_view.Text(kFlashPageId, CFlashPage::kFoundDevice), "T1: firmware 3.05 on the device, 3.05 in the catalog");
}

// So does an entry with an application: its application version as reported, not the zero.
TEST_F(WizardPages, DebugNamesTheApplicationVersionTheDeviceReported) {
  TestUpdater().firmware = 123;
  TestUpdater().application = 10;
  Choose(kApp);
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Finish);
  Run({"/DEBUG"});
  EXPECT_EQ(TestUpdater().updates, 1);
  EXPECT_NE(m_view.Text(kFlashPageId, CFlashPage::kFoundDevice).find("\nApplication 0.10 on the device, 0.10 in the catalog"),
            std::string::npos)
      << m_view.Text(kFlashPageId, CFlashPage::kFoundDevice);
}

struct ApplicationCase {
  const char* name;
  std::uint16_t firmware;
  std::uint16_t application;
  bool programmed;
};

class ApplicationVersions : public WizardPages, public ::testing::WithParamInterface<ApplicationCase> {};

TEST_P(ApplicationVersions, CountForEntriesWithAnApplication) {
  TestUpdater().firmware = GetParam().firmware;
  TestUpdater().application = GetParam().application;
  Choose(kApp);
  if (GetParam().programmed) m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Finish);
  Run();
  EXPECT_EQ(TestUpdater().updates, GetParam().programmed ? 1 : 0);
  // Once at the connect, and once more when the device is met again after its programming.
  EXPECT_EQ(TestUpdater().applicationReads, GetParam().programmed ? 2 : 1);
  EXPECT_EQ(State().DeviceApplicationVersion, GetParam().application);
  if (GetParam().programmed) {
    // Both versions that decide it are named.
    EXPECT_NE(m_view.Text(kFlashPageId, CFlashPage::kFoundDevice)
                  .find(FormatText("\nApplication %d.%02d on the device, 0.10 in the catalog",
                                   GetParam().application / 100, GetParam().application % 100)),
              std::string::npos)
        << m_view.Text(kFlashPageId, CFlashPage::kFoundDevice);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ApplicationVersions,
                         ::testing::Values(ApplicationCase{"OlderApplication", 123, 9, true},
                                           ApplicationCase{"OlderFirmware", 122, 10, true},
                                           ApplicationCase{"BothCurrent", 123, 10, false},
                                           ApplicationCase{"BothNewer", 200, 11, false}),
                         [](const auto& testCase) { return testCase.param.name; });

TEST_F(WizardPages, EntryWithoutApplicationNeverAsksForItsVersion) {
  TestUpdater().firmware = 305;
  Choose(kT1);
  m_view.Queue(WizardAction::Finish);
  Run();
  EXPECT_EQ(TestUpdater().applicationReads, 0);
}

struct UpdateFailure {
  const char* name;
  std::function<void()> script;
};

class UpdateFailures : public WizardPages, public ::testing::WithParamInterface<UpdateFailure> {};

TEST_P(UpdateFailures, ShowMessage38) {
  TestUpdater().firmware = 1;
  GetParam().script();
  Choose(kT1);
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Finish);
  Run();
  EXPECT_EQ(m_view.shownPage, kDonePageId);
  EXPECT_EQ(DoneText(), kFailed);
  EXPECT_EQ(m_view.buttons, unsigned{PSWIZB_FINISH});
  EXPECT_FALSE(AnyBackButton());
  EXPECT_TRUE(m_ui.MessageTexts().empty());
}

INSTANTIATE_TEST_SUITE_P(Table, UpdateFailures,
                         ::testing::Values(UpdateFailure{"ReturnsFalse", [] { TestUpdater().updateResult = false; }},
                                           UpdateFailure{"Throws", [] { TestUpdater().updateThrows = "Write error."; }}),
                         [](const auto& testCase) { return testCase.param.name; });

struct LogCase {
  const char* name;
  bool updateResult;
  const char* log;
  const char* shown;    // in the done page's box
  const char* offered;  // behind its button
};

class DownloadLogs : public WizardPages, public ::testing::WithParamInterface<LogCase> {};

// A failure shows the updater's log at once; a success offers it; an empty log is neither.
TEST_P(DownloadLogs, FollowTheOutcome) {
  TestUpdater().firmware = 1;
  TestUpdater().updateResult = GetParam().updateResult;
  TestUpdater().downloadLog = GetParam().log;
  Choose(kT1);
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Finish);
  Run();
  auto logOf = [](const std::map<int, std::string>& logs) {
    auto it = logs.find(kDonePageId);
    return it == logs.end() ? std::string("(none)") : it->second;
  };
  EXPECT_EQ(logOf(m_view.shownLogs), GetParam().shown);
  EXPECT_EQ(logOf(m_view.offeredLogs), GetParam().offered);
  EXPECT_EQ(m_view.shownLogs.size() + m_view.offeredLogs.size(), std::string(GetParam().log).empty() ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DownloadLogs,
    ::testing::Values(LogCase{"FailureShowsIt", false, "step 3 failed", "step 3 failed", "(none)"},
                      LogCase{"SuccessOffersIt", true, "Check for standard application failed.", "(none)",
                              "Check for standard application failed."},
                      LogCase{"EmptyFailure", false, "", "(none)", "(none)"},
                      LogCase{"EmptySuccess", true, "", "(none)", "(none)"}),
    [](const auto& testCase) { return testCase.param.name; });

struct LinkFailureCase {
  const char* name;
  int messageId;    // the device link's message that ends the update
  const char* log;  // the updater's download log
  std::string shown;  // in the done page's box, after the cause
};

class LinkFailures : public WizardPages, public ::testing::WithParamInterface<LinkFailureCase> {};

// A device-link failure that ends the update is told once, in an error box, before the done
// page says 38; the done page's box keeps it above the updater's own log.
TEST_P(LinkFailures, ShowTheirCauseThenMessage38) {
  TestUpdater().firmware = 1;
  TestUpdater().downloadLog = GetParam().log;
  TestUpdater().duringUpdate = [](IFlashProgress&) { throw CStreamException(GetParam().messageId); };
  std::vector<int> pagesAtTheMessage;
  m_ui.onMessageBox = [&] { pagesAtTheMessage = m_view.shownPages; };
  Choose(kT1);
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Finish);
  Run();
  const std::string cause = LoadResString(GetParam().messageId);
  ASSERT_EQ(m_ui.MessageTexts(), std::vector<std::string>{cause});
  EXPECT_EQ(m_ui.Record().back().style, unsigned{MB_OK | MB_ICONERROR});
  EXPECT_EQ(pagesAtTheMessage, (std::vector<int>{kStartPageId, kFlashPageId, kProgressPageId}));
  EXPECT_EQ(DoneText(), kFailed);
  EXPECT_EQ(m_view.shownLogs[kDonePageId], cause + GetParam().shown);
  EXPECT_TRUE(m_view.offeredLogs.empty());
  EXPECT_EQ(m_view.Text(kDonePageId, CDonePage::kOutcomeText), "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, LinkFailures,
    ::testing::Values(LinkFailureCase{"RefusedCommand", 20016, "", ""},
                      LinkFailureCase{"ReadFailure", 20020, "", ""},
                      LinkFailureCase{"WithDownloadLog", 20009, "step 3 failed", "\n\nstep 3 failed"}),
    [](const auto& testCase) { return testCase.param.name; });

struct OutcomeCase {
  const char* name;
  bool verify;  // the device is met again after its programming
  std::optional<std::uint16_t> readBack;  // what the updater read on its own
  std::string outcome;  // control 103 of the done page
};

class SuccessOutcomes : public WizardPages, public ::testing::WithParamInterface<OutcomeCase> {};

// After a success the done page names the device and its firmware: as the device reported it
// again, or as the catalog has it, which the text says.
TEST_P(SuccessOutcomes, NameTheDeviceAndItsVersion) {
  TestUpdater().firmware = 1;
  State().VerifyAfterUpdate = GetParam().verify;
  TestUpdater().versionAfterUpdate = GetParam().readBack;
  Choose(kT1);
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Finish);
  Run();
  EXPECT_EQ(DoneText(), kSucceeded);
  EXPECT_EQ(m_view.Text(kDonePageId, CDonePage::kOutcomeText), GetParam().outcome);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SuccessOutcomes,
    ::testing::Values(OutcomeCase{"Checked", true, 312, "T1 now reports firmware 3.05."},
                      OutcomeCase{"ReadBack", false, 312, "T1 now reports firmware 3.12."},
                      OutcomeCase{"FromTheCatalog", false, std::nullopt,
                                  "T1 should now have firmware 3.05 (the version of the update file; the device "
                                  "was not asked again)."}),
    [](const auto& testCase) { return testCase.param.name; });

// An application download names its project: the label, the folder beside it and the summary
// appear, and stay while the status and detail lines go on changing.
TEST_F(WizardPages, ProgressPageShowsTheProjectItIsNamed) {
  TestUpdater().firmware = 1;
  TestUpdater().duringUpdate = [this](IFlashProgress& progress) {
    for (int control : {104, 105, 106}) EXPECT_EQ(m_view.visible.count({kProgressPageId, control}), 0u) << control;
    progress.ShowProject("/opt/tavrix/Drive003", "7 files to download (412 kByte)");
    EXPECT_EQ(m_view.calls.back(), "Repaint 1002");
    progress.SetStatusText("Transfering %s", "APP.BIN");
    progress.SetDetailText("/");
    EXPECT_EQ(m_view.Text(kProgressPageId, 102), "Transfering APP.BIN");
  };
  Choose(kT1);
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Finish);
  Run();
  for (int control : {104, 105, 106}) EXPECT_TRUE((m_view.visible[{kProgressPageId, control}])) << control;
  EXPECT_EQ(m_view.Text(kProgressPageId, 105), "/opt/tavrix/Drive003");
  EXPECT_EQ(m_view.Text(kProgressPageId, 106), "7 files to download (412 kByte)");
  // The check after the programming has the status line last.
  EXPECT_EQ(m_view.Text(kProgressPageId, 102), LoadResString(CUpdateVerification::kCheckingText));
  EXPECT_EQ(m_view.Text(kProgressPageId, 103), "/");
}

TEST_F(WizardPages, ProgressPageShowsWhatTheUpdaterReports) {
  TestUpdater().firmware = 1;
  TestUpdater().duringUpdate = [this](IFlashProgress& progress) {
    const std::pair<int, int> bar{kProgressPageId, 551};
    EXPECT_EQ(m_view.visible.count(bar), 0u);  // hidden until SetRange
    progress.SetMarquee();
    EXPECT_EQ(m_view.visible.count(bar), 0u);  // the marquee does not show it
    progress.SetRange(0, 200);
    EXPECT_TRUE(m_view.visible[bar]);
    EXPECT_EQ(m_view.ranges[bar], std::make_pair(0, 200));
    EXPECT_TRUE(progress.SetPos(150));
    EXPECT_EQ(m_view.positions[bar], std::vector<int>{150});
    progress.SetStatusText("Writing %d Bytes at 0x%8X", 256, 0x1000);
    EXPECT_EQ(m_view.Text(kProgressPageId, 102), "Writing 256 Bytes at 0x    1000");
    progress.SetDetailText("/a/long/path/image.hex");
    EXPECT_EQ(m_view.Text(kProgressPageId, 103), "/a/long/path/image.hex");
    EXPECT_EQ(m_view.calls.back(), "Repaint 1002");  // the page repaints at once
    EXPECT_TRUE(progress.PumpMessages());
    EXPECT_TRUE(m_view.marquee[bar]);
  };
  Choose(kT1);
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Finish);
  Run();
  EXPECT_EQ(TestUpdater().updates, 1);
}

TEST_F(WizardPages, QuitDuringUpdateLetsItFinishThenEndsTheWizard) {
  TestUpdater().firmware = 1;
  std::vector<bool> answers;
  TestUpdater().duringUpdate = [&](IFlashProgress& progress) {
    m_view.QueueDuringWork({WizardAction::Close});
    answers.push_back(progress.SetPos(1));
    answers.push_back(progress.PumpMessages());
    answers.push_back(progress.SetPos(2));
  };
  Choose(kT1);
  m_view.Queue(WizardAction::Next);
  Run();  // no Finish queued: the wizard must end by itself
  EXPECT_EQ(answers, (std::vector<bool>{false, false, false}));
  EXPECT_EQ(State().DoneMessageId, 37);
  EXPECT_EQ(m_view.shownPage, kDonePageId);
}

TEST_F(WizardPages, DuplicateIdSelectsTheFirstEntry) {
  TestUpdater().firmware = 305;
  Choose(kT1Duplicate);
  m_view.Queue(WizardAction::Finish);
  Run();
  EXPECT_EQ(State().Catalog.Record().Name, "Test One");
  EXPECT_EQ(TestUpdater().created, 1);
}

TEST(StartPage, IdIsTheFirstTabSeparatedField) {
  const std::pair<const char*, const char*> cases[] = {
      {"T1\tTest One", "T1"}, {"  \t X\tName", "X"}, {"A B\tName", "A B"},
      {"NoTab", "NoTab"},     {"", ""},              {"\tName", "Name"}};
  for (const auto& [line, id] : cases) EXPECT_EQ(CStartPage::IdOfLine(line), id) << line;
}

}  // namespace
