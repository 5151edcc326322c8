// The trainer through the program's real USB path: tavrix-usb-bridge presents the simulated
// trainer as a kernel USB device, and the terminal front end updates it through libusb, with
// the real 5000 ms wait for the restart into the loader (the bridge cannot scale waits).

#include "sim/devices/automotive/s_record.h"
#include "sim/firmware_version_tag.h"
#include "support/cli_end_to_end.h"

namespace {

using namespace std::chrono_literals;

const CEndToEndEntry kMotrevo{"AT-MOTREVO", "CUpdaterMotrevo", 0x4C17, "motrevo.srec", 312, "trainer"};

class MotrevoUsbBridgeTest : public CliEndToEndTest {
 protected:
  MotrevoUsbBridgeTest() { WriteCatalog({kMotrevo}); }
};

TEST_F(MotrevoUsbBridgeTest, TheTrainerIsUpdatedThroughLibusbAndFoundUpToDate) {
  if (!BridgeUsable()) GTEST_SKIP() << "umockdev's preload library is missing (scripts/setup.sh installs it)";
  // A small text: a header, the version tag in one data record, the end record.
  const std::string tag = FirmwareVersionTag(312) + std::string(1, '\0');
  const std::vector<std::string> lines = {
      WriteSRecord('0', 0, {}),
      WriteSRecord('3', 0x10000, {reinterpret_cast<const std::uint8_t*>(tag.data()), tag.size()}),
      WriteSRecord('7', 0x10000, {}),
  };
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  WriteFirmware(kMotrevo, text);
  ASSERT_TRUE(Plug("motrevo", "firmware=305"));

  const auto start = std::chrono::steady_clock::now();
  Run first = UpdateThroughBridge(kMotrevo.Id);
  EXPECT_EQ(first.status, 0) << first.output;
  EXPECT_GE(std::chrono::steady_clock::now() - start, 5000ms) << "the restart's wait is real here";
  EXPECT_TRUE(Shows(first, Text(37))) << first.output;
  std::string expected = "download lines\n";
  for (const std::string& line : lines) expected += "line " + line + "\n";
  EXPECT_EQ(Record(), expected + "end complete\n");

  Run second = UpdateThroughBridge(kMotrevo.Id);
  EXPECT_EQ(second.status, 0) << second.output;
  EXPECT_TRUE(Shows(second, "(3.12)")) << second.output;
}

}  // namespace
