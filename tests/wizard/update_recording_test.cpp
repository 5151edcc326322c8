// The record each update leaves, as the wizard's pages write it: the outcome, the versions
// before and after, the cause of a failure, the image's digest and the program that ran it.
// Updates the person declines leave none.

#include <gtest/gtest.h>

#include <cstdlib>

#include "history/update_history.h"
#include "image/image_load_error.h"
#include "platform/front_end.h"
#include "platform/shown_failure.h"
#include "platform/string_table.h"
#include "support/wizard_fixture.h"
#include "wizard/wizard_state.h"
#include "transport/stream_exception.h"
#include "wizard/dialog_templates.h"
#include "wizard/start_page.h"

namespace {

constexpr const char* kCatalog = R"(<?xml version="1.0"?>
<Config><Devices>
  <Device Id="T1" RTC="CTestUpdater" USBPID="0x1234">
    <Name>Test One</Name><Firmware><Version>305</Version><File>fw\t1.hex</File></Firmware></Device>
  <Device Id="APP" RTC="CTestUpdater">
    <Name>With Application</Name><Firmware><Version>123</Version><File>a.hex</File></Firmware>
    <Application><Version>10</Version></Application></Device>
</Devices></Config>)";

// The SHA-256 of "abc", the bytes of fw/t1.hex.
constexpr const char* kAbcSha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

using Version = std::optional<std::uint16_t>;

struct RecordingCase {
  const char* name;
  int line;                          // of the catalog above
  std::function<void()> script;      // sets up the test updater
  std::vector<WizardAction> actions;  // after the start page's Next
  // The record expected; no result: none is written.
  std::optional<UpdateResult> result;
  Version firmwareBefore, firmwareAfter, applicationBefore, applicationAfter;
  std::optional<int> messageId;
  std::string message;
};

// The wizard with the history in the test's folder and the catalog above.
class UpdateRecordingTest : public WizardFixture {
 protected:
  UpdateRecordingTest() {
    if (const char* previous = std::getenv("XDG_STATE_HOME")) m_previousStateHome = previous;
    ::setenv("XDG_STATE_HOME", (m_folder / "state").c_str(), 1);
    SetFrontEndName("tavrix-update");
    StoreInt("ChooseLanguage", 0);
    WriteCatalog(kCatalog);
    m_folder.Write("fw/t1.hex", "abc");
  }
  ~UpdateRecordingTest() override {
    SetFrontEndName({});
    if (m_previousStateHome) ::setenv("XDG_STATE_HOME", m_previousStateHome->c_str(), 1);
  }

  std::optional<std::string> m_previousStateHome;
};

class UpdateRecording : public UpdateRecordingTest, public ::testing::WithParamInterface<RecordingCase> {};

TEST_P(UpdateRecording, WritesOneRecordWhenTheOutcomeIsKnown) {
  const RecordingCase& c = GetParam();
  if (c.script) c.script();
  const auto before = IsoUtcTime(std::chrono::system_clock::now());
  m_view.QueueSelection(kStartPageId, CStartPage::kDeviceList, c.line);
  m_view.Queue(WizardAction::Next);
  for (WizardAction action : c.actions) m_view.Queue(action);
  Run();
  const auto after = IsoUtcTime(std::chrono::system_clock::now());

  const std::vector<UpdateRecord> records = CUpdateHistory::ReadExisting(CUpdateHistory::DefaultPath(), {});
  ASSERT_EQ(records.size(), c.result ? 1u : 0u);
  if (!c.result) return;
  const UpdateRecord& record = records[0];
  EXPECT_EQ(record.result, *c.result);
  EXPECT_EQ(record.catalogId, c.line == 0 ? "T1" : "APP");
  EXPECT_EQ(record.firmwareBefore, c.firmwareBefore);
  EXPECT_EQ(record.firmwareAfter, c.firmwareAfter);
  EXPECT_EQ(record.applicationBefore, c.applicationBefore);
  EXPECT_EQ(record.applicationAfter, c.applicationAfter);
  EXPECT_EQ(record.messageId, c.messageId);
  EXPECT_EQ(record.message, c.message);
  EXPECT_EQ(record.imageSha256, c.line == 0 ? kAbcSha256 : "");  // a.hex is not there
  EXPECT_EQ(record.catalogFile, CatalogPath());
  EXPECT_EQ(record.frontEnd, "tavrix-update");
  EXPECT_EQ(record.frontEndVersion, TAVRIX_VERSION_TEXT);
  EXPECT_LE(before, record.started);
  EXPECT_LE(record.started, record.ended);
  EXPECT_LE(record.ended, after);
  // A test updater opens no transport: no device was noted.
  EXPECT_EQ(record.deviceId, "");
}

// A history that cannot be written: the update succeeds, the warning is printed once and the
// done page's log keeps it in sight.
TEST_F(UpdateRecordingTest, AWarningIsPrintedOnceAndKeptInTheDonePageLog) {
  ::setenv("XDG_STATE_HOME", m_folder.Write("state-file", "text").c_str(), 1);
  TestUpdater().firmware = 304;
  m_view.QueueSelection(kStartPageId, CStartPage::kDeviceList, 0);
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Finish);
  testing::internal::CaptureStderr();
  Run();
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(m_view.Text(kDonePageId, 102), LoadResString(37));
  const std::string warning = TheWizardState().HistoryWarning;
  EXPECT_NE(warning.find(m_folder / "state-file"), std::string::npos) << warning;
  EXPECT_EQ(printed, warning + "\n");
  EXPECT_EQ(m_view.offeredLogs[kDonePageId], warning);
}

const auto kNext = WizardAction::Next;
const auto kFinish = WizardAction::Finish;
const auto kCancel = WizardAction::Cancel;

INSTANTIATE_TEST_SUITE_P(
    Outcomes, UpdateRecording,
    ::testing::Values(
        // Met again after programming: what the device reports then.
        RecordingCase{"ProgrammedAndChecked", 0, [] { TestUpdater().firmware = 304; }, {kNext, kFinish},
                      UpdateResult::Programmed, 304, 305, {}, {}, {}, ""},
        // Without the check: what the updater read when it asked again on its own, else the
        // catalog's version.
        RecordingCase{"ProgrammedAndAskedAgain", 0,
                      [] {
                        TestUpdater().firmware = 304;
                        TestUpdater().versionAfterUpdate = 306;
                        TheWizardState().VerifyAfterUpdate = false;
                      },
                      {kNext, kFinish}, UpdateResult::Programmed, 304, 306, {}, {}, {}, ""},
        RecordingCase{"ProgrammedNotAskedAgain", 0,
                      [] {
                        TestUpdater().firmware = 304;
                        TheWizardState().VerifyAfterUpdate = false;
                      },
                      {kNext, kFinish}, UpdateResult::Programmed, 304, 305, {}, {}, {}, ""},
        // Every unit acknowledged, yet the device did not take the firmware: a failure, with the
        // version it reports.
        RecordingCase{"CheckFindsTheOldFirmware", 0,
                      [] {
                        TestUpdater().firmware = 304;
                        TestUpdater().takesUpdate = false;
                      },
                      {kNext, kFinish}, UpdateResult::Failed, 304, 304, {}, {}, 45003,
                      "After programming, T1 reports firmware 3.04, but 3.05 was expected: the device did not "
                      "take the new firmware whole. Run the update again."},
        RecordingCase{"CheckFindsTheOldApplication", 1,
                      [] {
                        TestUpdater().firmware = 123;
                        TestUpdater().application = 5;
                        TestUpdater().takesUpdate = false;
                      },
                      {kNext, kFinish}, UpdateResult::Failed, 123, 123, 5, 5, 45004,
                      "After programming, APP reports application 0.05, but 0.10 was expected: the application "
                      "did not arrive whole. Run the update again."},
        RecordingCase{"DeviceDoesNotComeBack", 0,
                      [] {
                        TestUpdater().firmware = 304;
                        TestUpdater().connectAgainResult = false;
                      },
                      {kNext, kFinish}, UpdateResult::Failed, 304, {}, {}, {}, 45002,
                      "T1 did not come back after programming, so its firmware could not be checked. It may not "
                      "have received all of it: connect the device again and run the update once more."},
        // Only the application was older: the firmware stays as it was.
        RecordingCase{"ApplicationProgrammed", 1,
                      [] {
                        TestUpdater().firmware = 123;
                        TestUpdater().application = 5;
                      },
                      {kNext, kFinish}, UpdateResult::Programmed, 123, 123, 5, 10, {}, ""},
        RecordingCase{"UpToDate", 0, [] { TestUpdater().firmware = 305; }, {kFinish}, UpdateResult::UpToDate, 305,
                      305, {}, {}, {}, ""},
        RecordingCase{"UpdateReturnsFalse", 0,
                      [] {
                        TestUpdater().firmware = 1;
                        TestUpdater().updateResult = false;
                      },
                      {kNext, kFinish}, UpdateResult::Failed, 1, {}, {}, {}, 38,
                      "An error has occurred during the re-programming of the firmware."},
        // The updater shows the link's message itself and gives up: that message is the cause.
        RecordingCase{"UpdaterShowsTheLinkFailure", 0,
                      [] {
                        TestUpdater().firmware = 1;
                        TestUpdater().updateResult = false;
                        TestUpdater().duringUpdate = [](IFlashProgress&) { CStreamException(20016).ReportError(); };
                      },
                      {kNext, kFinish}, UpdateResult::Failed, 1, {}, {}, {}, 20016,
                      "The interface did not accept the command sended."},
        RecordingCase{"UpdaterShowsAnImageRefusal", 0,
                      [] {
                        TestUpdater().firmware = 1;
                        TestUpdater().updateResult = false;
                        TestUpdater().duringUpdate = [](IFlashProgress&) {
                          ShowImageRefusal(CImageLoadError::AtLine("t1.hex", 7, "bad checksum"));
                        };
                      },
                      {kNext, kFinish}, UpdateResult::Failed, 1, {}, {}, {}, 23110,
                      "The firmware image was not sent to the device because it could not be read "
                      "completely:\nt1.hex:7: bad checksum"},
        // A shown failure without a number of its own: the text alone.
        RecordingCase{"UpdaterShowsATextWithoutNumber", 0,
                      [] {
                        TestUpdater().firmware = 1;
                        TestUpdater().updateResult = false;
                        TestUpdater().duringUpdate = [](IFlashProgress&) { NoteShownFailure({0, "t1.hex\nno file"}); };
                      },
                      {kNext, kFinish}, UpdateResult::Failed, 1, {}, {}, {}, {}, "t1.hex\nno file"},
        RecordingCase{"UpdateThrows", 0,
                      [] {
                        TestUpdater().firmware = 1;
                        TestUpdater().updateThrows = "Write error.";
                      },
                      {kNext, kFinish}, UpdateResult::Failed, 1, {}, {}, {}, {}, "Write error."},
        RecordingCase{"ConnectFails", 0, [] { TestUpdater().connectResult = false; }, {kCancel},
                      UpdateResult::NotConnected, {}, {}, {}, {}, {}, ""},
        RecordingCase{"VersionReadThrows", 0, [] { TestUpdater().versionThrows = "Timeout."; }, {kCancel},
                      UpdateResult::NotConnected, {}, {}, {}, {}, {}, "Timeout."},
        // Cancel on the flash page: nothing was done, nothing is recorded.
        RecordingCase{"Declined", 0, [] { TestUpdater().firmware = 304; }, {kCancel}, std::nullopt, {}, {}, {}, {},
                      {}, ""}),
    [](const auto& testCase) { return testCase.param.name; });

}  // namespace
