// End to end: tavrix-update-cli updates a simulated MK interface served by tavrix-devsim, on
// the emulated bus and once through the USB bridge, and along the failure paths.

#include "devices/downloads/bootloader_end_to_end.h"

namespace {

const CEndToEndEntry kMK{"ZM7310-4K", "CUpdaterMK", 0x4D4B, "interface-mk.hex", 230};

// `count` erased bytes as the record writes them.
std::string ErasedHex(std::size_t count) { return std::string(2 * count, 'F'); }

class UpdateMKEndToEndTest : public BootloaderEndToEndTest {
 protected:
  UpdateMKEndToEndTest() { WriteCatalog({kMK}); }
};

TEST_F(UpdateMKEndToEndTest, ProgramsTheImageThenFindsTheDeviceUpToDate) {
  ASSERT_TRUE(Plug("mk", "firmware=105"));
  Run first = Update(kMK.Id);
  EXPECT_EQ(first.status, 0) << first.output;
  EXPECT_TRUE(Shows(first, Text(37))) << first.output;
  ASSERT_TRUE(DownloadEnded());
  const std::string record = Record();
  EXPECT_EQ(record.rfind("download block\nblock 0x00000000 ", 0), 0u) << record;
  EXPECT_NE(record.find("\nblock 0x00012000 "), std::string::npos) << record;
  EXPECT_NE(record.find("\nblock 0x00013000 "), std::string::npos) << record;
  EXPECT_TRUE(record.ends_with("\nend complete\n")) << record;
  EXPECT_FALSE(Ejected()) << "the firmware starts by itself";

  Run second = Update(kMK.Id);
  EXPECT_EQ(second.status, 0) << second.output;
  EXPECT_TRUE(Shows(second, UpToDate(230))) << second.output;
}

TEST_F(UpdateMKEndToEndTest, ASmallImageArrivesAsTheseBytes) {
  // Four bytes in block 1, one byte at 0x12345 in block 18; the blocks between are blank.
  WriteFirmware(kMK, ":04100000DEADBEEFB4\n:020000040001F9\n:01234500A5F2\n:00000001FF\n");
  ASSERT_TRUE(Plug("mk", ""));
  Run run = Update(kMK.Id);
  EXPECT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(DownloadEnded());
  EXPECT_EQ(Record(), "download block\n"
                      "block 0x00001000 DEADBEEF" + ErasedHex(4092) + "\n"
                      "block 0x00012000 " + ErasedHex(0x345) + "A5" + ErasedHex(4096 - 0x346) + "\n"
                      "end complete\n");
}

TEST_F(UpdateMKEndToEndTest, FailuresEndAsFailedOrNotConnected) {
  struct Case {
    const char* name;
    std::string options;
    int status;
    std::vector<std::string> shown;
    std::string record;
  };
  const Case cases[] = {
      {"block refused", "refuse_ack=2", 1, {Text(38)}, "download block\nend incomplete\n"},
      {"connection dropped in mid-block", "close_after=2000", 1, {Text(38)}, "download block\nend incomplete\n"},
      {"another model", "model=ZM7310-9X", 3,
       {FormatMessage(Text(20007), {"ZM7310-9X MK boot 100", "ZM7310-4K"}),
        FormatMessage(Text(20006), {"Tavrix ZM7310-4K Interface"}).substr(0, 40)},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Plug("mk", c.options));
    Run run = Update(kMK.Id);
    EXPECT_EQ(run.status, c.status) << run.output;
    for (const std::string& text : c.shown) EXPECT_TRUE(Shows(run, text)) << text << "\n" << run.output;
    EXPECT_FALSE(Shows(run, Text(37))) << run.output;
    if (!c.record.empty()) {
      ASSERT_TRUE(DownloadEnded());
    }
    EXPECT_EQ(Record(), c.record);
  }
}

TEST_F(UpdateMKEndToEndTest, UpdatesThroughTheRealUsbPath) {
  if (!BridgeUsable()) GTEST_SKIP() << "umockdev's preload library is missing (scripts/setup.sh installs it)";
  ASSERT_TRUE(Plug("mk", "firmware=105"));
  Run run = UpdateThroughBridge(kMK.Id);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Shows(run, Text(37))) << run.output;
  ASSERT_TRUE(DownloadEnded());
  EXPECT_TRUE(Record().ends_with("\nend complete\n")) << Record();
}

}  // namespace
