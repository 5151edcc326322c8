// The C28xx device through tavrix-usb-bridge: the program's real USB path (libusb, the
// second-generation driver's one handle) against the simulated device presented as a kernel
// USB device. The program's waits are real there, so the image is one small segment: the
// update takes the 2000 ms after the start and 1000 ms twice.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/string_table.h"
#include "platform/text_format.h"
#include "support/devsim_process.h"
#include "support/emulated_usb_device.h"
#include "support/image_files.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace {

using namespace image_test;

TEST(UsbBridgeC28XXTest, ProgramsTheDeviceThroughLibusbThenFindsItUpToDate) {
  int status = -1;
  RunProgram("ldconfig -p | grep -q libumockdev-preload.so.0", status);
  if (status != 0) GTEST_SKIP() << "umockdev's preload library is missing (scripts/setup.sh installs it)";
  SetUiLanguage(LANG_ENGLISH);

  CTempFolder folder;
  std::string catalog = folder.Write(
      "tavrix-update.config",
      "<Config><Devices><Device Id=\"ZT5503-1D\" RTC=\"CUpdaterC28XX\" USBPID=\"0x5503\"><Name>C28xx DSP Unit</Name>"
      "<Firmware><Version>214</Version><File>c28xx.hex</File></Firmware></Device></Devices></Config>");
  // The version tag in the words of one segment, each pair of tag bytes one word.
  std::string tag = "TAVRIX-FW-VERSION=214";
  std::vector<std::uint8_t> data(tag.begin(), tag.end());
  data.resize(24, 0x00);
  folder.Write("c28xx.hex", Lines({HexExtLinear(0x0030), HexData(0x0000, data), kHexEof}));
  std::string record = folder / "device.record";
  std::filesystem::create_directories(folder.Path() / "bus");
  CDevSim devsim({"--bus", folder / "bus", "--wait-scale", "0", "--device",
                  "c28xx:firmware=105,record=" + record});
  ASSERT_TRUE(devsim.FirstLine().has_value());

  auto update = [&] {
    std::string output = RunProgram(TAVRIX_BIN_DIR "/tavrix-usb-bridge '" + (folder / "bus") +
                                        "' -- " TAVRIX_BIN_DIR "/tavrix-update-cli --catalog '" + catalog +
                                        "' --lang 1033 --yes --on-failure exit update ZT5503-1D 2>&1",
                                    status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    return output;
  };
  auto start = std::chrono::steady_clock::now();
  std::string first = update();
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_NE(first.find(LoadResString(37)), std::string::npos) << first;
  EXPECT_GE(took, std::chrono::milliseconds(4000)) << "the real waits: 2000, 1000 and 1000 ms";

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ReadWholeFile(record).find("\nend ") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(ReadWholeFile(record),
            "download program\nsegment 0x00300000 0x000C 1 5441565249582D46572D56455253494F4E3D323134000000\n"
            "end complete\n");

  std::string second = update();
  EXPECT_NE(second.find(FormatText(LoadResString(40).c_str(), 2, 14)), std::string::npos) << second;
}

}  // namespace
