// End to end: tavrix-update-cli updates a simulated 1A interface served by tavrix-devsim, on
// the emulated bus and once through the USB bridge, and along the failure paths.

#include "devices/downloads/bootloader_end_to_end.h"

namespace {

const CEndToEndEntry k1A{"ZQ1184-2B", "CUpdater1A", 0x1184, "interface-1a.seg", 210};

class Update1AEndToEndTest : public CliEndToEndTest {
 protected:
  Update1AEndToEndTest() { WriteCatalog({k1A}); }
};

TEST_F(Update1AEndToEndTest, ProgramsTheImageThenFindsTheDeviceUpToDate) {
  ASSERT_TRUE(Plug("1a", "firmware=105"));
  Run first = Update(k1A.Id);
  EXPECT_EQ(first.status, 0) << first.output;
  EXPECT_TRUE(Shows(first, Text(37))) << first.output;
  ASSERT_TRUE(DownloadEnded());
  EXPECT_EQ(Record(), SegmentRecordOf(ReadWholeFile(FirmwarePath(k1A))));
  ASSERT_TRUE(BackAfterEject());

  Run second = Update(k1A.Id);
  EXPECT_EQ(second.status, 0) << second.output;
  EXPECT_TRUE(Shows(second, UpToDate(210))) << second.output;
}

TEST_F(Update1AEndToEndTest, ASmallImageArrivesAsTheseBytes) {
  // A record in the region that is not sent; one whose two trailing 0xFF bytes are dropped and
  // whose odd rest grows by one erased byte; one more region with an odd size.
  WriteFirmware(k1A, std::string("\x00\x01\x00\x00\x02\x00\x00\x00\xAA\xBB"
                                 "\x00\x40\x00\x00\x05\x00\x00\x00\x01\x02\x03\xFF\xFF"
                                 "\x00\x00\x01\x00\x03\x00\x00\x00\x10\x20\x30",
                                 34));
  ASSERT_TRUE(Plug("1a", ""));
  Run run = UpdateUnchecked(k1A.Id);
  EXPECT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(DownloadEnded());
  EXPECT_EQ(Record(),
            "download segment\n"
            "segment 0x00004000 0x0004 1 010203FF\n"
            "segment 0x00010000 0x0004 1 102030FF\n"
            "end complete\n");
}

TEST_F(Update1AEndToEndTest, FailuresEndAsFailedOrNotConnected) {
  struct Case {
    const char* name;
    std::string device;  // KIND:OPTIONS
    int status;
    std::vector<std::string> shown;
    bool reset;
    std::string record;
  };
  const std::string wrongDevice = FormatMessage(Text(20007), {"ZR9046-3C 105", "ZQ1184-2B"});
  const Case cases[] = {
      // A 1Z on the 1A's product id: named, and not connected.
      {"a 1Z answers", "1z:pid=0x1184,firmware=105", 3, {"Device \"ZR9046-3C 105\" found.", wrongDevice}, false, ""},
      {"acknowledgement refused in mid-segment", "1a:refuse_ack=3", 1, {Text(20016), Text(38)}, true,
       "download segment\nend incomplete\n"},
      {"connection dropped in mid-segment", "1a:close_after=3000", 1, {Text(38)}, true,
       "download segment\nend incomplete\n"},
      {"segment header refused", "1a:refuse_header", 1, {Text(38)}, false, "download segment\nend incomplete\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string kind = c.device.substr(0, c.device.find(':'));
    ASSERT_TRUE(Plug(kind, c.device.substr(c.device.find(':') + 1)));
    Run run = Update(k1A.Id);
    EXPECT_EQ(run.status, c.status) << run.output;
    for (const std::string& text : c.shown) EXPECT_TRUE(Shows(run, text)) << text << "\n" << run.output;
    EXPECT_FALSE(Shows(run, Text(37))) << run.output;
    if (!c.record.empty()) {
      ASSERT_TRUE(DownloadEnded());
    }
    EXPECT_EQ(Record(), c.record);
    EXPECT_EQ(c.reset ? Eventually([this] { return Ejected(); }) : Ejected(), c.reset);
  }
}

TEST_F(Update1AEndToEndTest, AnImageThatDoesNotLoadIsNeverSent) {
  std::string image = ReadWholeFile(FirmwarePath(k1A));
  WriteFirmware(k1A, image.substr(0, image.size() - 3));  // ends in the middle of a record
  ASSERT_TRUE(Plug("1a", ""));
  Run run = Update(k1A.Id);
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_TRUE(Shows(run, FirmwarePath(k1A))) << run.output;
  EXPECT_TRUE(Shows(run, Text(38))) << run.output;
  EXPECT_EQ(Record(), "");
  EXPECT_EQ(Transcript().find(" 1F "), std::string::npos) << Transcript();
}

// "Succeeded" only for firmware the device got whole.
TEST_F(Update1AEndToEndTest, AnEmptyOrSpecialFirmwareFileIsNeverSent) {
  ExpectNeverDownloaded(k1A.Id, FirmwarePath(k1A), [this] { return Plug("1a", ""); },
                        WithSpecialFirmwareFiles({BadFirmwareText("empty", "", ": The file holds no data to send.")}));
}

TEST_F(Update1AEndToEndTest, UpdatesThroughTheRealUsbPath) {
  if (!BridgeUsable()) GTEST_SKIP() << "umockdev's preload library is missing (scripts/setup.sh installs it)";
  ASSERT_TRUE(Plug("1a", "firmware=105"));
  Run run = UpdateThroughBridge(k1A.Id);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Shows(run, Text(37))) << run.output;
  ASSERT_TRUE(DownloadEnded());
  EXPECT_EQ(Record(), SegmentRecordOf(ReadWholeFile(FirmwarePath(k1A))));
  EXPECT_TRUE(Shows(run, " ejected (authorized 0, 1)")) << run.output;
}

}  // namespace
