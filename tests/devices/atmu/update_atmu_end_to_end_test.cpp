// End to end: tavrix-update-cli updates a simulated ATMU device served by tavrix-devsim on an
// emulated bus: the demo image and then up to date, a small image whose record is pinned as
// literal bytes, and the failure paths of the page-wise programming.

#include "image/hex_file_reader.h"
#include "support/cli_end_to_end.h"
#include "support/image_files.h"

namespace {

using namespace image_test;

constexpr std::uint16_t kVersion = 214;
const CEndToEndEntry kATMU{"ZA0815-2T", "CUpdaterATMU", 0xA7B0, "atmu.hex", kVersion, "ATMU device"};

class UpdateATMUEndToEndTest : public CliEndToEndTest {
 protected:
  UpdateATMUEndToEndTest() { WriteCatalog({kATMU}); }
};

TEST_F(UpdateATMUEndToEndTest, ProgramsTheImageThenFindsTheDeviceUpToDate) {
  ASSERT_TRUE(Plug("atmu", "firmware=105"));

  Run first = Update(kATMU.Id);
  EXPECT_EQ(first.status, 0) << first.output;
  EXPECT_NE(first.output.find(Text(37)), std::string::npos) << first.output;
  ASSERT_TRUE(DownloadEnded());

  // The record's pages, in order, make up the file's image from address 0 on.
  std::string record = Record();
  ASSERT_TRUE(record.starts_with("download pages 128\n")) << record.substr(0, 100);
  EXPECT_TRUE(record.ends_with("\nend complete\n"));
  CIntelHexFileReader reader;
  ASSERT_TRUE(reader.Open(FirmwarePath(kATMU)));
  ASSERT_TRUE(reader.AllocImage(0x10300));  // the demo image ends at 0x102FF
  ASSERT_TRUE(reader.ReadImage());
  std::string expected = "download pages 128\n";
  for (std::size_t page = 0; page < 0x10300 / 128; ++page) {
    expected += FormatText("page 0x%04zX ", page);
    for (std::size_t i = 0; i < 128; ++i) expected += FormatText("%02X", reader.Image()[page * 128 + i]);
    expected += "\n";
  }
  EXPECT_EQ(record, expected + "end complete\n");

  Run second = Update(kATMU.Id);
  EXPECT_EQ(second.status, 0) << second.output;
  EXPECT_NE(second.output.find(FormatText(Text(40).c_str(), kVersion / 100, kVersion % 100)), std::string::npos)
      << second.output;
}

TEST_F(UpdateATMUEndToEndTest, ASmallImageArrivesAsThesePages) {
  // Four bytes at 0x10 and one at 0x80 (page 1): both pages in full, the rest erased.
  WriteFirmware(kATMU, Lines({HexData(0x10, {0xDE, 0xAD, 0xBE, 0xEF}), HexData(0x80, {0x5A}), kHexEof}));
  ASSERT_TRUE(Plug("atmu", "page_code=0x51"));
  Run run = UpdateUnchecked(kATMU.Id);
  EXPECT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(DownloadEnded());
  EXPECT_EQ(Record(),
            "download pages 32\n"
            "page 0x0000 " + ErasedHex(16) + "DEADBEEF" + ErasedHex(12) + "\n"
            "page 0x0001 " + ErasedHex(32) + "\n"
            "page 0x0002 " + ErasedHex(32) + "\n"
            "page 0x0003 " + ErasedHex(32) + "\n"
            "page 0x0004 5A" + ErasedHex(31) + "\n"
            "end complete\n");
}

TEST_F(UpdateATMUEndToEndTest, FailuresEndAsFailedOrNotConnected) {
  struct Case {
    const char* name;
    std::string options;
    int status;
    std::vector<std::string> shown;  // texts in the output
    std::string record;              // what the device kept
  };
  const std::string firstPage = "download pages 128\npage 0x0000 ";
  const Case cases[] = {
      {"a page refused", "refuse_ack=2", 1, {Text(38)}, firstPage},
      {"a page that never gets \"!\"", "busy_page=1", 1, {Text(38)}, firstPage},
      // The link's own message tells why, before the failure: a read or a write error, as the
      // drop meets the one or the other.
      {"dropped in the middle of a page", "close_after=200", 1, {"the USB device.", Text(38)}, firstPage},
      {"an unknown page size code", "page_code=0x5C", 1, {"GetDeviceInfo() failed.", Text(38)}, ""},
      {"another device", "model=ZA0816-3T", 3,
       {FormatMessage(Text(20007), {"ZA0816-3T 100", "ZA0815-2T"}), "No interface \"Tavrix ZA0815-2T ATMU device\""},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Plug("atmu", c.options));

    Run run = Update(kATMU.Id);
    EXPECT_EQ(run.status, c.status) << run.output;
    for (const std::string& text : c.shown) EXPECT_NE(run.output.find(text), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find(Text(37)), std::string::npos) << run.output;
    if (c.record.empty()) {
      EXPECT_EQ(Record(), "");
    } else {
      // Page 0 taken, page 1 not, and no restart: the download stays incomplete.
      ASSERT_TRUE(DownloadEnded());
      std::string record = Record();
      EXPECT_TRUE(record.starts_with(c.record)) << record.substr(0, 100);
      EXPECT_EQ(record.find("page 0x0001"), std::string::npos);
      EXPECT_TRUE(record.ends_with("\nend incomplete\n")) << record.substr(record.size() - 50);
    }
  }
  // A page answered "E" is sent again, four times in all.
  ASSERT_TRUE(Plug("atmu", "busy_page=1"));
  Update(kATMU.Id);
  std::string transcript = Transcript();
  std::size_t busy = 0;
  for (auto at = transcript.find("busy_page:"); at != std::string::npos; at = transcript.find("busy_page:", at + 1)) ++busy;
  EXPECT_EQ(busy, 4u);
}

TEST_F(UpdateATMUEndToEndTest, AnImageWithoutItsEndRecordIsNeverSent) {
  WriteFirmware(kATMU, Lines({HexData(0x10, {1, 2, 3})}));
  ASSERT_TRUE(Plug("atmu", ""));

  Run run = Update(kATMU.Id);
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find(FirmwarePath(kATMU) + ":2: " + LoadResString(23710)), std::string::npos) << run.output;
  EXPECT_NE(run.output.find(Text(38)), std::string::npos) << run.output;
  EXPECT_EQ(Record(), "");
  EXPECT_EQ(Transcript().find(" 1E "), std::string::npos) << Transcript();
}

}  // namespace
