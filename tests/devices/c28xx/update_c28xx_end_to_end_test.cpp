// End to end: tavrix-update-cli updates a simulated C28xx device served by tavrix-devsim on an
// emulated bus, and along the failure paths. What the device received is compared, for a small
// hand-made image, with bytes written out here, so that a fault in the host's reader cannot
// pass end to end.

#include "support/cli_end_to_end.h"
#include "support/image_files.h"

namespace {

using namespace image_test;

const CEndToEndEntry kC28xx{"ZT5503-1D", "CUpdaterC28XX", 0x5503, "c28xx.hex", 214, "C28xx DSP Unit"};

class UpdateC28XXEndToEndTest : public CliEndToEndTest {
 protected:
  UpdateC28XXEndToEndTest() { WriteCatalog({kC28xx}); }

  std::string FirmwarePath() const { return CliEndToEndTest::FirmwarePath(kC28xx); }
  // tavrix-devsim serving one C28xx device with `options`; true once it serves.
  bool Plug(const std::string& options) { return CliEndToEndTest::Plug("c28xx", options); }
  Run Update() { return CliEndToEndTest::Update(kC28xx.Id); }
};

TEST_F(UpdateC28XXEndToEndTest, ProgramsTheImageThenFindsTheDeviceUpToDate) {
  ASSERT_TRUE(Plug("firmware=105"));

  Run first = Update();
  EXPECT_EQ(first.status, 0) << first.output;
  EXPECT_NE(first.output.find("ZT5503-1D: firmware 1.05 on the device, 2.14 in the catalog"), std::string::npos)
      << first.output;
  EXPECT_NE(first.output.find(Text(37)), std::string::npos) << first.output;
  const std::string record = EndedRecord();
  EXPECT_EQ(record.rfind("download program\nsegment 0x00300000 0x0C00 1 ", 0), 0u) << record.substr(0, 80);
  EXPECT_TRUE(record.ends_with("\nend complete\n")) << record;

  Run second = Update();
  EXPECT_EQ(second.status, 0) << second.output;
  EXPECT_NE(second.output.find(FormatText(Text(40).c_str(), 2, 14)), std::string::npos) << second.output;
}

TEST_F(UpdateC28XXEndToEndTest, ASmallImageArrivesAsTheseBytes) {
  // Two words at 0x300000; one word at 0x304000, rounded up with an erased word; a word in a
  // region that is never written.
  std::ofstream(FirmwarePath(), std::ios::trunc)
      << Lines({HexExtLinear(0x0030), HexData(0x0000, {0x34, 0x12, 0x78, 0x56}), HexData(0x4000, {0xEF, 0xBE}),
                HexExtLinear(0x0033), HexData(0x0000, {0x01, 0x02}), kHexEof});
  ASSERT_TRUE(Plug(""));
  Run run = UpdateUnchecked(kC28xx.Id);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(EndedRecord(),
            "download program\n"
            "segment 0x00300000 0x0002 1 34127856\n"
            "segment 0x00304000 0x0002 2 EFBEFFFF\n"
            "end complete\n");
}

TEST_F(UpdateC28XXEndToEndTest, FailuresEndAsFailedOrNotConnected) {
  struct Case {
    const char* name;
    std::string options;
    int status;
    std::vector<std::string> shown;  // texts in the output
    std::string record;              // what the device kept
  };
  // The link's own message tells why, before the failure.
  const std::string failed = Text(38);
  const std::string refused = Text(20016);
  const Case cases[] = {
      {"program header status", "refuse_ack=1", 1, {refused, failed}, "download program\nend incomplete\n"},
      {"segment header refused", "refuse_ack=2", 1, {refused, failed}, "download program\nend incomplete\n"},
      {"segment status", "refuse_ack=3", 1, {refused, failed}, "download program\nend incomplete\n"},
      // A read or a write error, as the drop meets the one or the other.
      {"connection dropped in mid-segment", "close_after=1000", 1, {"the USB device.", failed},
       "download program\nend incomplete\n"},
      {"another device", "id=ZT9999-2A", 3,
       {FormatMessage(Text(20007), {"ZT9999-2A 100", "ZT5503-1D"}),
        "No interface \"Tavrix ZT5503-1D C28xx DSP Unit\" can be found"},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Plug(c.options));
    Run run = Update();
    EXPECT_EQ(run.status, c.status) << run.output;
    for (const std::string& text : c.shown) EXPECT_NE(run.output.find(text), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find(Text(37)), std::string::npos) << run.output;
    EXPECT_EQ(c.record.empty() ? Record() : EndedRecord(), c.record);
  }
}

TEST_F(UpdateC28XXEndToEndTest, AnImageThatDoesNotLoadIsNeverSent) {
  // The last record lies above the flash regions.
  std::ofstream(FirmwarePath(), std::ios::trunc)
      << Lines({HexExtLinear(0x0030), HexData(0x0000, {0x34, 0x12}), HexExtLinear(0x0034),
                HexData(0x0000, {0x01, 0x02}), kHexEof});
  ASSERT_TRUE(Plug(""));
  Run run = Update();
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find(FirmwarePath() + ":4:"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find(Text(38)), std::string::npos) << run.output;
  EXPECT_EQ(Record(), "") << "the device heard the identity question, nothing more";
}

// "Succeeded" only for firmware the device got whole: an empty file, one cut short or broken
// by a blank line, a pipe or a device as the file fail at once, before the download begins.
TEST_F(UpdateC28XXEndToEndTest, FirmwareThatIsNotThereWholeIsNeverSent) {
  const std::string hex = ReadWholeFile(FirmwarePath());
  const std::size_t half = hex.find('\n', hex.size() / 2) + 1;
  const std::size_t second = hex.find('\n', hex.find('\n') + 1) + 1;
  const std::vector<CBadFirmware> cases = WithSpecialFirmwareFiles(
      {BadFirmwareText("empty", "", ":1: The file ends before its end-of-file record"),
       BadFirmwareText("cut short", hex.substr(0, half), "The file ends before its end-of-file record"),
       BadFirmwareText("a blank line", hex.substr(0, second) + "\n" + hex.substr(second),
                       ":3: The line is empty, but the end-of-file record has not come yet.")});
  ExpectNeverDownloaded(kC28xx.Id, FirmwarePath(), [this] { return Plug(""); }, cases);
}

}  // namespace
