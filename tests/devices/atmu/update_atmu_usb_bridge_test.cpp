// The ATMU device updated through the program's real USB path: tavrix-usb-bridge presents the
// simulated device as a kernel USB device in a umockdev testbed, and tavrix-update-cli reaches it
// through libusb without TAVRIX_USB_BUS. The waits are real there (500 ms and 2000 ms), so the
// image is two pages.

#include <string>
#include <vector>

#include "support/cli_end_to_end.h"
#include "support/image_files.h"

namespace {

using namespace image_test;

const CEndToEndEntry kATMU{"ZA0815-2T", "CUpdaterATMU", 0xA7B0, "atmu.hex", 214, "ATMU device"};

class UpdateATMUUsbBridgeTest : public CliEndToEndTest {
 protected:
  UpdateATMUUsbBridgeTest() { WriteCatalog({kATMU}); }
};

TEST_F(UpdateATMUUsbBridgeTest, ProgramsThroughLibusb) {
  if (!BridgeUsable()) GTEST_SKIP() << "umockdev's preload library is missing (scripts/setup.sh installs it)";
  // The version tag in page 1 of 32 bytes.
  std::string tag = "TAVRIX-FW-VERSION=214";
  WriteFirmware(kATMU, Lines({HexData(0x20, std::vector<std::uint8_t>(tag.begin(), tag.end())), kHexEof}));
  ASSERT_TRUE(Plug("atmu", "page_code=0x51,firmware=105"));

  Run first = UpdateThroughBridge(kATMU.Id);
  EXPECT_EQ(first.status, 0) << first.output;
  EXPECT_TRUE(Shows(first, Text(37))) << first.output;
  // The device thread writes its record before it answers; the restart follows the last page.
  ASSERT_TRUE(DownloadEnded());
  std::string tagHex;
  for (char c : tag) tagHex += FormatText("%02X", static_cast<unsigned char>(c));
  EXPECT_EQ(Record(), "download pages 32\npage 0x0000 " + ErasedHex(32) + "\npage 0x0001 " + tagHex +
                          ErasedHex(32 - tag.size()) + "\nend complete\n");

  Run second = UpdateThroughBridge(kATMU.Id);
  EXPECT_EQ(second.status, 0) << second.output;
  EXPECT_TRUE(Shows(second, "(2.14)")) << second.output;
}

}  // namespace
