// End to end: tavrix-update-cli updates a simulated 1Z interface served by tavrix-devsim, on
// the emulated bus and once through the USB bridge, and along the failure paths.

#include "devices/downloads/bootloader_end_to_end.h"

namespace {

const CEndToEndEntry k1Z{"ZR9046-3C", "CUpdater1Z", 0x9046, "interface-1z.seg", 215};

class Update1ZEndToEndTest : public CliEndToEndTest {
 protected:
  Update1ZEndToEndTest() { WriteCatalog({k1Z}); }
  // Whether the host sent 10 01 as one frame.
  bool Sent1001() const { return Transcript().find(" out             2  10 01 ") != std::string::npos; }
};

TEST_F(Update1ZEndToEndTest, ProgramsTheImageThenFindsTheDeviceUpToDate) {
  ASSERT_TRUE(Plug("1z", "firmware=105"));
  Run first = Update(k1Z.Id);
  EXPECT_EQ(first.status, 0) << first.output;
  EXPECT_TRUE(Shows(first, Text(37))) << first.output;
  ASSERT_TRUE(DownloadEnded());
  EXPECT_EQ(Record(), SegmentRecordOf(ReadWholeFile(FirmwarePath(k1Z))));
  EXPECT_TRUE(Sent1001()) << Transcript();
  ASSERT_TRUE(BackAfterEject());

  Run second = Update(k1Z.Id);
  EXPECT_EQ(second.status, 0) << second.output;
  EXPECT_TRUE(Shows(second, UpToDate(215))) << second.output;
}

TEST_F(Update1ZEndToEndTest, FailuresEndAsFailedOrNotConnected) {
  struct Case {
    const char* name;
    std::string options;
    int status;
    std::vector<std::string> shown;
    std::string record;
  };
  const std::string notFound = FormatMessage(Text(20006), {"Tavrix ZR9046-3C Interface"});
  const Case cases[] = {
      // "?" to 10 01: no message of its own, the "Interface" question, not connected.
      {"10 01 refused", "refuse_ack=1", 3, {notFound.substr(0, notFound.find('\n'))}, ""},
      {"segment data refused", "refuse_ack=4", 1, {Text(20016), Text(38)}, "download segment\nend incomplete\n"},
      {"segment header refused", "refuse_header", 1, {Text(38)}, "download segment\nend incomplete\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Plug("1z", c.options));
    Run run = Update(k1Z.Id);
    EXPECT_EQ(run.status, c.status) << run.output;
    for (const std::string& text : c.shown) EXPECT_TRUE(Shows(run, text)) << text << "\n" << run.output;
    EXPECT_FALSE(Shows(run, Text(37))) << run.output;
    EXPECT_FALSE(Shows(run, "found.\n")) << "no 20007\n" << run.output;
    if (!c.record.empty()) {
      ASSERT_TRUE(DownloadEnded());
    }
    EXPECT_EQ(Record(), c.record);
    EXPECT_TRUE(Sent1001());
  }
}

TEST_F(Update1ZEndToEndTest, UpdatesThroughTheRealUsbPath) {
  if (!BridgeUsable()) GTEST_SKIP() << "umockdev's preload library is missing (scripts/setup.sh installs it)";
  ASSERT_TRUE(Plug("1z", "firmware=105"));
  Run run = UpdateThroughBridge(k1Z.Id);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Shows(run, Text(37))) << run.output;
  ASSERT_TRUE(DownloadEnded());
  EXPECT_EQ(Record(), SegmentRecordOf(ReadWholeFile(FirmwarePath(k1Z))));
}

}  // namespace
