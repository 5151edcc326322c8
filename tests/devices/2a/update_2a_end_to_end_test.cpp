// End to end: tavrix-update-cli updates a simulated 2A interface served by tavrix-devsim on an
// emulated bus, for each of the four updaters and along the failure paths. What the device
// received is compared, for small hand-made images, with the bytes written out here, so that a
// fault in the host's readers cannot pass end to end.

#include <fstream>

#include "devices/2a/catalog_2a.h"
#include "support/cli_end_to_end.h"

namespace {

using Entry = C2ATestEntry;
constexpr const auto& kEntries = k2ATestEntries;

class Update2AEndToEndTest : public CliEndToEndTest {
 protected:
  Update2AEndToEndTest() { m_catalog = Write2ATestCatalog(m_folder); }

  std::string FirmwarePath(const Entry& entry) const { return ::FirmwarePath(m_folder, entry).string(); }
  // tavrix-devsim serving one 2A device with `options`; true once it serves.
  bool Plug(const std::string& options) { return CliEndToEndTest::Plug("2a", options); }
};

TEST_F(Update2AEndToEndTest, EachUpdaterProgramsItsImageThenFindsTheDeviceUpToDate) {
  const char* variants[] = {"1", "2", "3", "3"};
  for (std::size_t i = 0; i < std::size(kEntries); ++i) {
    const Entry& entry = kEntries[i];
    SCOPED_TRACE(entry.className);
    ASSERT_TRUE(Plug(std::string("variant=") + variants[i] + ",firmware=105"));

    Run first = Update(entry.id);
    EXPECT_EQ(first.status, 0) << first.output;
    EXPECT_NE(first.output.find(Text(37)), std::string::npos) << first.output;
    ASSERT_TRUE(DownloadEnded());
    const std::string record = Record();
    EXPECT_EQ(record.substr(0, record.find('\n')), std::string("download ") + entry.download);
    EXPECT_TRUE(record.ends_with("\nend complete\n")) << record;
    // Only the segment download resets the device; the others start the firmware by themselves.
    if (i < 2) {
      ASSERT_TRUE(BackAfterEject());
    } else {
      EXPECT_FALSE(Ejected());
    }

    Run second = Update(entry.id);
    EXPECT_EQ(second.status, 0) << second.output;
    std::string upToDate = FormatText(Text(40).c_str(), entry.version / 100, entry.version % 100);
    EXPECT_NE(second.output.find(upToDate), std::string::npos) << second.output;
    m_devsim.reset();
  }
}

TEST_F(Update2AEndToEndTest, SmallImagesArriveAsTheseBytes) {
  struct Case {
    std::size_t entry;    // in kEntries
    const char* variant;
    std::string image;    // the firmware file
    std::string record;   // what the device keeps
  };
  const Case cases[] = {
      // Segment image, table A: a record in the region that is not sent; a record whose two
      // trailing 0xFF bytes are dropped and whose odd rest grows by one erased byte; one more
      // region with an odd size.
      {0, "1",
       std::string("\x00\x01\x00\x00\x02\x00\x00\x00\xAA\xBB"
                   "\x00\x40\x00\x00\x05\x00\x00\x00\x01\x02\x03\xFF\xFF"
                   "\x00\x00\x01\x00\x03\x00\x00\x00\x10\x20\x30", 34),
       "download segment\n"
       "segment 0x00004000 0x0004 1 010203FF\n"
       "segment 0x00010000 0x0004 1 102030FF\n"
       "end complete\n"},
      // Intel HEX: four bytes in block 1; blank blocks are not sent.
      {2, "3", ":04100000DEADBEEFB4\n:00000001FF\n",
       "download block\nblock 0x00001000 DEADBEEF" + ErasedHex(4092) + "\nend complete\n"},
      // Raw binary: three bytes, the block padded with erased flash.
      {3, "3", "\x01\x02\x03",
       "download binary\nbinary 0x0800C000 010203" + ErasedHex(4093) + "\nend complete\n"},
  };
  for (const Case& c : cases) {
    const Entry& entry = kEntries[c.entry];
    SCOPED_TRACE(entry.className);
    std::ofstream(FirmwarePath(entry), std::ios::binary | std::ios::trunc) << c.image;
    ASSERT_TRUE(Plug(std::string("variant=") + c.variant));
    Run run = UpdateUnchecked(entry.id);
    EXPECT_EQ(run.status, 0) << run.output;
    ASSERT_TRUE(DownloadEnded());
    EXPECT_EQ(Record(), c.record);
    m_devsim.reset();
  }
}

TEST_F(Update2AEndToEndTest, FailuresEndAsFailedOrNotConnected) {
  struct Case {
    const char* name;
    const char* id;
    std::string options;
    int status;
    std::vector<std::string> shown;  // texts in the output
    bool reset;                      // the device was ejected
    std::string record;              // what the device kept
    int cause = 0;                   // the device link's message, printed once; 0 none
  };
  const std::string notConnected = "No interface \"Tavrix Quadrel Interface\" can be found";
  const std::string wrongDevice = FormatMessage(Text(20007), {"ZQ1184-2B Interface 100", "ZR6618-7D"});
  const std::string requiresModel = wrongDevice.substr(wrongDevice.find('\n'));
  const Case cases[] = {
      {"segment header refused", "QI-2A1", "variant=1,refuse_header", 1, {Text(38)}, false,
       "download segment\nend incomplete\n"},
      {"acknowledgement refused in mid-segment", "QI-2A1", "variant=1,refuse_ack=3", 1, {Text(20016), Text(38)}, true,
       "download segment\nend incomplete\n", 20016},
      {"connection dropped in mid-segment", "QI-2A1", "variant=1,close_after=3000", 1, {Text(38)}, true,
       "download segment\nend incomplete\n"},
      // A block download's stream error leaves the update: its message, then the done page's.
      {"block refused", "QI-2A3", "variant=3,refuse_ack=2", 1, {Text(20016), Text(38)}, false,
       "download block\nend incomplete\n", 20016},
      {"connection dropped in mid-block", "QI-2A3", "variant=3,close_after=3000", 1, {Text(38)}, false,
       "download block\nend incomplete\n", 20009},
      {"wrong model code", "QI-2A1", "variant=1,identity=\"ZQ1184-2B Interface 100\"", 3,
       {wrongDevice, notConnected}, false, ""},
      {"wrong variant", "QI-2A1", "variant=2", 3, {notConnected}, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Plug(c.options));

    Run run = Update(c.id);
    EXPECT_EQ(run.status, c.status) << run.output;
    for (const std::string& text : c.shown) EXPECT_NE(run.output.find(text), std::string::npos) << run.output;
    if (c.cause != 0) {
      EXPECT_EQ(TimesShown(run, CauseLine(c.cause)), 1u) << run.output;
      EXPECT_LT(run.output.find(CauseLine(c.cause)), run.output.find(Text(38))) << run.output;
    }
    // Only a wrong model code is named in message 20007; a wrong variant goes straight to the
    // "Interface" question.
    EXPECT_EQ(run.output.find(requiresModel) != std::string::npos, c.name == std::string("wrong model code"));
    if (c.record.empty()) {
      EXPECT_EQ(Record(), "");
    } else {
      ASSERT_TRUE(DownloadEnded());
      EXPECT_EQ(Record(), c.record);
    }
    EXPECT_EQ(c.reset ? Eventually([this] { return Ejected(); }) : Ejected(), c.reset);
    m_devsim.reset();
  }
}

TEST_F(Update2AEndToEndTest, AnImageThatDoesNotLoadIsNeverSent) {
  // The segment image ends in the middle of a record.
  std::string image = ReadWholeFile(FirmwarePath(kEntries[0]));
  std::ofstream(FirmwarePath(kEntries[0]), std::ios::binary | std::ios::trunc) << image.substr(0, image.size() - 3);
  ASSERT_TRUE(Plug("variant=1"));

  Run run = Update("QI-2A1");
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find(FirmwarePath(kEntries[0])), std::string::npos) << run.output;
  EXPECT_NE(run.output.find(Text(38)), std::string::npos) << run.output;
  EXPECT_EQ(Record(), "");
  // The device heard the identity and the variant questions, nothing more.
  EXPECT_EQ(Transcript().find(" 1F "), std::string::npos) << Transcript();
}

// "Succeeded" only for firmware the device got whole: an empty file, a HEX image cut short or
// broken by a blank line, a pipe or a device as the file, each fails before the download begins.
TEST_F(Update2AEndToEndTest, FirmwareThatIsNotThereWholeIsNeverSent) {
  const std::string hex = ReadWholeFile(FirmwarePath(kEntries[2]));
  const std::size_t half = hex.find('\n', hex.size() / 2) + 1;
  const std::size_t third = hex.find('\n', hex.find('\n', hex.find('\n') + 1) + 1) + 1;
  const std::string noData = ": The file holds no data to send.";
  const char* variants[] = {"1", "2", "3", "3"};
  for (std::size_t i = 0; i < std::size(kEntries); ++i) {
    const Entry& entry = kEntries[i];
    SCOPED_TRACE(entry.className);
    std::vector<CBadFirmware> cases;
    if (std::string(entry.download) == "block") {
      cases.push_back(BadFirmwareText("empty", "", ":1: The file ends before its end-of-file record"));
      cases.push_back(BadFirmwareText("cut short", hex.substr(0, half), "The file ends before its end-of-file record"));
      cases.push_back(BadFirmwareText("a blank line", hex.substr(0, third) + "\n" + hex.substr(third),
                                      ":4: The line is empty, but the end-of-file record has not come yet."));
    } else {
      cases.push_back(BadFirmwareText("empty", "", noData));
    }
    ExpectNeverDownloaded(entry.id, FirmwarePath(entry), [&] { return Plug(std::string("variant=") + variants[i]); },
                          WithSpecialFirmwareFiles(std::move(cases)));
  }
}

}  // namespace
