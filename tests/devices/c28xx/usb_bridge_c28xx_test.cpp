// The C28xx device through tavrix-usb-bridge: the program's real USB path (libusb, the
// second-generation driver's one handle) against the simulated device presented as a kernel
// USB device. The program's waits are real there, so the image is one small segment: the
// update takes the 2000 ms after the start and 1000 ms twice.

#include "support/cli_end_to_end.h"
#include "support/image_files.h"

namespace {

using namespace image_test;

const CEndToEndEntry kC28xx{"ZT5503-1D", "CUpdaterC28XX", 0x5503, "c28xx.hex", 214, "C28xx DSP Unit"};

class UsbBridgeC28XXTest : public CliEndToEndTest {
 protected:
  UsbBridgeC28XXTest() { WriteCatalog({kC28xx}); }
};

TEST_F(UsbBridgeC28XXTest, ProgramsTheDeviceThroughLibusbThenFindsItUpToDate) {
  if (!BridgeUsable()) GTEST_SKIP() << "umockdev's preload library is missing (scripts/setup.sh installs it)";
  // The version tag in the words of one segment, each pair of tag bytes one word.
  std::string tag = "TAVRIX-FW-VERSION=214";
  std::vector<std::uint8_t> data(tag.begin(), tag.end());
  data.resize(24, 0x00);
  WriteFirmware(kC28xx, Lines({HexExtLinear(0x0030), HexData(0x0000, data), kHexEof}));
  ASSERT_TRUE(Plug("c28xx", "firmware=105"));

  auto start = std::chrono::steady_clock::now();
  Run first = UpdateThroughBridge(kC28xx.Id);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(first.status, 0) << first.output;
  EXPECT_TRUE(Shows(first, Text(37))) << first.output;
  EXPECT_GE(took, std::chrono::milliseconds(4000)) << "the real waits: 2000, 1000 and 1000 ms";
  EXPECT_EQ(EndedRecord(),
            "download program\nsegment 0x00300000 0x000C 1 5441565249582D46572D56455253494F4E3D323134000000\n"
            "end complete\n");

  Run second = UpdateThroughBridge(kC28xx.Id);
  EXPECT_EQ(second.status, 0) << second.output;
  EXPECT_TRUE(Shows(second, UpToDate(214))) << second.output;
}

}  // namespace
