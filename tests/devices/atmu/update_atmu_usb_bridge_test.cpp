// The ATMU device updated through the program's real USB path: tavrix-usb-bridge presents the
// simulated device as a kernel USB device in a umockdev testbed, and tavrix-update-cli reaches it
// through libusb without TAVRIX_USB_BUS. The waits are real there (500 ms and 2000 ms), so the
// image is two pages.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/string_table.h"
#include "platform/text_format.h"
#include "support/devsim_process.h"
#include "support/image_files.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace {

using namespace image_test;

bool PreloadInstalled() {
  int status = -1;
  RunProgram("ldconfig -p | grep -q libumockdev-preload.so.0", status);
  return status == 0;
}

TEST(UpdateATMUUsbBridgeTest, ProgramsThroughLibusb) {
  if (!PreloadInstalled()) GTEST_SKIP() << "umockdev's preload library is missing (scripts/setup.sh installs it)";
  SetUiLanguage(LANG_ENGLISH);
  CTempFolder folder;
  std::string catalog = folder.Write(
      "tavrix-update.config",
      "<Config><Devices><Device Id=\"ZA0815-2T\" RTC=\"CUpdaterATMU\" USBPID=\"0xA7B0\"><Name>ATMU device</Name>"
      "<Firmware><Version>214</Version><File>fw.hex</File></Firmware></Device></Devices></Config>");
  // The version tag in page 1 of 32 bytes.
  std::string tag = "TAVRIX-FW-VERSION=214";
  folder.Write("fw.hex", Lines({HexData(0x20, std::vector<std::uint8_t>(tag.begin(), tag.end())), kHexEof}));
  std::filesystem::create_directories(folder.Path() / "bus");
  std::string record = folder / "device.record";
  CDevSim devsim({"--bus", folder / "bus", "--wait-scale", "0", "--device",
                  "atmu:page_code=0x51,firmware=105,record=" + record});
  ASSERT_TRUE(devsim.FirstLine().has_value());

  auto update = [&](int& status) {
    std::string output = RunProgram(TAVRIX_BIN_DIR "/tavrix-usb-bridge '" + (folder / "bus") +
                                         "' -- " TAVRIX_BIN_DIR "/tavrix-update-cli --catalog '" + catalog +
                                         "' --lang 1033 --yes --on-failure exit update ZA0815-2T 2>&1",
                                     status);
    status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
  };
  int status = -1;
  std::string output = update(status);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find(LoadResString(37)), std::string::npos) << output;
  // The device thread writes its record before it answers; the restart follows the last page.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ReadWholeFile(record).find("end complete") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::string tagHex;
  for (char c : tag) tagHex += FormatText("%02X", static_cast<unsigned char>(c));
  EXPECT_EQ(ReadWholeFile(record), "download pages 32\npage 0x0000 " + std::string(64, 'F') + "\npage 0x0001 " + tagHex +
                                       std::string(2 * (32 - tag.size()), 'F') + "\nend complete\n");

  output = update(status);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("(2.14)"), std::string::npos) << output;
}

}  // namespace
