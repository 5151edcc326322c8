// The trainer through the program's real USB path: tavrix-usb-bridge presents the simulated
// trainer as a kernel USB device, and the terminal front end updates it through libusb, with
// the real 5000 ms wait for the restart into the loader (the bridge cannot scale waits).

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/string_table.h"
#include "sim/devices/automotive/s_record.h"
#include "sim/firmware_version_tag.h"
#include "support/devsim_process.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace {

using namespace std::chrono_literals;

bool PreloadInstalled() {
  int status = -1;
  RunProgram("ldconfig -p | grep -q libumockdev-preload.so.0", status);
  return status == 0;
}

TEST(MotrevoUsbBridgeTest, TheTrainerIsUpdatedThroughLibusbAndFoundUpToDate) {
  if (!PreloadInstalled()) GTEST_SKIP() << "umockdev's preload library is missing (scripts/setup.sh installs it)";
  SetUiLanguage(LANG_ENGLISH);
  CTempFolder folder;
  std::filesystem::create_directories(folder.Path() / "bus");
  const std::string bus = folder / "bus";
  const std::string record = folder / "device.record";
  // A small text: a header, the version tag in one data record, the end record.
  const std::string tag = FirmwareVersionTag(312) + std::string(1, '\0');
  const std::vector<std::string> lines = {
      WriteSRecord('0', 0, {}),
      WriteSRecord('3', 0x10000, {reinterpret_cast<const std::uint8_t*>(tag.data()), tag.size()}),
      WriteSRecord('7', 0x10000, {}),
  };
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  folder.Write("motrevo.srec", text);
  const std::string catalog = folder.Write(
      "tavrix-update.config",
      "<Config><Devices><Device Id=\"AT-MOTREVO\" RTC=\"CUpdaterMotrevo\" USBPID=\"0x4C17\"><Name>trainer</Name>"
      "<Firmware><Version>312</Version><File>motrevo.srec</File></Firmware></Device></Devices></Config>");
  CDevSim devsim({"--bus", bus, "--wait-scale", "0", "--device", "motrevo:firmware=305,record=" + record});
  ASSERT_TRUE(devsim.FirstLine().has_value());

  auto update = [&](int& status) {
    std::string output = RunProgram(TAVRIX_BIN_DIR "/tavrix-usb-bridge '" + bus + "' -- " TAVRIX_BIN_DIR
                                    "/tavrix-update-cli --catalog '" + catalog +
                                    "' --lang 1033 --yes --on-failure exit update AT-MOTREVO 2>&1",
                                    status);
    status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
  };
  int status = -1;
  const auto start = std::chrono::steady_clock::now();
  std::string output = update(status);
  EXPECT_EQ(status, 0) << output;
  EXPECT_GE(std::chrono::steady_clock::now() - start, 5000ms) << "the restart's wait is real here";
  EXPECT_NE(output.find(LoadResString(37)), std::string::npos) << output;
  std::string expected = "download lines\n";
  for (const std::string& line : lines) expected += "line " + line + "\n";
  EXPECT_EQ(ReadWholeFile(record), expected + "end complete\n");

  output = update(status);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("(3.12)"), std::string::npos) << output;
}

}  // namespace
