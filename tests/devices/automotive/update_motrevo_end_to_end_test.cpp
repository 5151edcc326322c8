// End to end: tavrix-update-cli updates the simulated trainer served by tavrix-devsim on an
// emulated bus, and fails as it should when the trainer refuses a line, does not come back
// after its restart, or is another device.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/string_table.h"
#include "platform/text_format.h"
#include "sim/demo_firmware.h"
#include "support/bad_firmware.h"
#include "support/devsim_process.h"
#include "support/emulated_usb_device.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace {

constexpr std::uint16_t kVersion = 312;

class UpdateMotrevoEndToEndTest : public ::testing::Test {
 protected:
  UpdateMotrevoEndToEndTest() {
    SetUiLanguage(LANG_ENGLISH);
    m_catalog = m_folder.Write(
        "tavrix-update.config",
        FormatText("<Config><Devices><Device Id=\"AT-MOTREVO\" RTC=\"CUpdaterMotrevo\" USBPID=\"0x4C17\">"
                   "<Name>trainer</Name><Firmware><Version>%u</Version><File>firmware\\motrevo.srec</File>"
                   "</Firmware></Device></Devices></Config>",
                   kVersion));
    WriteDemoFirmware("CUpdaterMotrevo", kVersion, FirmwarePath());
  }

  std::string FirmwarePath() const { return (m_folder.Path() / "firmware" / "motrevo.srec").string(); }
  std::string RecordPath() const { return m_folder / "device.record"; }

  bool Plug(const std::string& options) {
    m_devsim = std::make_unique<CDevSim>(std::vector<std::string>{
        "--bus", m_bus.Path(), "--wait-scale", "0", "--device", "motrevo:record=" + RecordPath() + "," + options});
    return m_devsim->FirstLine().has_value();
  }

  struct Run {
    std::string output;
    int status = -1;
  };
  Run Update() {
    Run run;
    std::string command = "TAVRIX_USB_BUS='" + m_bus.Path() + "' TAVRIX_WAIT_SCALE=0 " TAVRIX_BIN_DIR
                          "/tavrix-update-cli --catalog '" + m_catalog +
                          "' --lang 1033 --yes --on-failure exit update AT-MOTREVO 2>&1";
    run.output = RunProgram(command, run.status);
    run.status = WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -1;
    return run;
  }

  // The record once the trainer's thread has ended the download (10 s at most).
  std::string EndedRecord() const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string record = ReadWholeFile(RecordPath());
    while (record.find("\nend ") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      record = ReadWholeFile(RecordPath());
    }
    return record;
  }

  // The record of a whole download of `text`: every line without its line end.
  static std::string RecordOf(const std::string& text) {
    std::string record = "download lines\n";
    std::size_t at = 0;
    while (at < text.size()) {
      std::size_t end = text.find("\r\n", at);
      record += "line " + text.substr(at, end - at) + "\n";
      at = end + 2;
    }
    return record + "end complete\n";
  }

  static std::string Text(int id) { return LoadResString(id); }

  CTempFolder m_folder;
  CTempBusDirectory m_bus;
  std::string m_catalog;
  std::unique_ptr<CDevSim> m_devsim;
};

TEST_F(UpdateMotrevoEndToEndTest, ProgramsTheTextThenFindsTheTrainerUpToDate) {
  ASSERT_TRUE(Plug("firmware=305"));
  Run first = Update();
  EXPECT_EQ(first.status, 0) << first.output;
  EXPECT_NE(first.output.find("firmware 3.05 on the device, 3.12 in the catalog"), std::string::npos) << first.output;
  EXPECT_NE(first.output.find(Text(37)), std::string::npos) << first.output;
  EXPECT_EQ(EndedRecord(), RecordOf(ReadWholeFile(FirmwarePath())));

  Run second = Update();
  EXPECT_EQ(second.status, 0) << second.output;
  EXPECT_NE(second.output.find(FormatText(Text(40).c_str(), 3, 12)), std::string::npos) << second.output;
}

TEST_F(UpdateMotrevoEndToEndTest, FailuresEndAsFailedOrNotConnected) {
  struct Case {
    const char* name;
    std::string options;
    int status;
    std::vector<std::string> shown;
    std::string record;  // the beginning of what the trainer kept
  };
  const std::string wrongDevice = FormatMessage(Text(20007), {"ZR6618-7D Quadrel 307", "ZRxxxx-xx.AAA.BBB.CCC"});
  const Case cases[] = {
      {"a line refused with F1", "refuse_ack=3", 1, {Text(38)}, "download lines\nline S0"},
      {"no loader after 32", "no_loader", 1, {Text(20016), Text(38)}, ""},
      {"another device", "identity=\"ZR6618-7D Quadrel 307\"", 3, {wrongDevice}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(RecordPath());
    ASSERT_TRUE(Plug(c.options));
    Run run = Update();
    EXPECT_EQ(run.status, c.status) << run.output;
    for (const std::string& text : c.shown) EXPECT_NE(run.output.find(text), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find(Text(37)), std::string::npos) << run.output;
    if (c.record.empty()) {
      EXPECT_EQ(ReadWholeFile(RecordPath()), "");
    } else {
      std::string record = EndedRecord();
      EXPECT_TRUE(record.starts_with(c.record)) << record;
      EXPECT_TRUE(record.ends_with("\nend incomplete\n")) << record;
      EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 5) << "three lines, the third refused";
    }
    m_devsim.reset();
  }
}

// "Succeeded" only for a text the trainer got whole: an empty text, or one with only line ends,
// would leave the trainer in its loader; a pipe or a device as the file must not hold the
// program. Each fails at once, and the trainer is never told to start its loader.
TEST_F(UpdateMotrevoEndToEndTest, FirmwareWithNothingToSendOrNoRegularFileIsNeverSent) {
  const std::vector<CBadFirmware> cases =
      WithSpecialFirmwareFiles({BadFirmwareText("empty", "", ": The file holds no data to send."),
                                BadFirmwareText("only line ends", "\r\n\r\n", ": The file holds no data to send.")});
  for (const CBadFirmware& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(FirmwarePath());
    c.make(FirmwarePath());
    std::filesystem::remove(RecordPath());
    ASSERT_TRUE(Plug(""));
    const auto start = std::chrono::steady_clock::now();
    Run run = Update();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find(FirmwarePath()), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(c.shown), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(Text(38)), std::string::npos) << run.output;
    EXPECT_EQ(ReadWholeFile(RecordPath()), "") << "the trainer was never sent to its loader";
    m_devsim.reset();
  }
}

}  // namespace
