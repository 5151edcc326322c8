// End to end: tavrix-update-cli updates a simulated MK interface served by tavrix-devsim, on
// the emulated bus and once through the USB bridge, and along the failure paths.

#include "devices/downloads/bootloader_end_to_end.h"

#include <sstream>

namespace {

const CEndToEndEntry kMK{"ZM7310-4K", "CUpdaterMK", 0x4D4B, "interface-mk.hex", 230};

// The record a device keeps after taking the Intel HEX `file` whole by the block download,
// worked out here rather than by the program's reader: data (type 00) and extended linear
// address (04) records laid into the erased 1 MiB image, whose blocks that are not blank go out.
std::string BlockRecordOf(const std::string& file) {
  std::string image(0x100000, '\xFF');
  std::uint32_t base = 0;
  std::istringstream lines(file);
  for (std::string line; std::getline(lines, line);) {
    auto byte = [&line](std::size_t i) { return static_cast<std::uint8_t>(std::stoul(line.substr(1 + 2 * i, 2), nullptr, 16)); };
    const std::size_t count = byte(0);
    const std::uint32_t address = static_cast<std::uint32_t>(byte(1) << 8 | byte(2));
    if (byte(3) == 0x04) base = static_cast<std::uint32_t>(byte(4) << 8 | byte(5)) << 16;
    if (byte(3) != 0x00) continue;
    for (std::size_t i = 0; i < count; ++i) image.at(base + address + i) = static_cast<char>(byte(4 + i));
  }
  std::string record = "download block\n";
  for (std::uint32_t offset = 0; offset < image.size(); offset += 0x1000) {
    std::string block = image.substr(offset, 0x1000);
    if (block == std::string(0x1000, '\xFF')) continue;
    record += FormatText("block 0x%08X ", offset);
    for (char c : block) record += FormatText("%02X", static_cast<unsigned>(static_cast<std::uint8_t>(c)));
    record += '\n';
  }
  return record + "end complete\n";
}

class UpdateMKEndToEndTest : public CliEndToEndTest {
 protected:
  UpdateMKEndToEndTest() { WriteCatalog({kMK}); }
};

TEST_F(UpdateMKEndToEndTest, ProgramsTheImageThenFindsTheDeviceUpToDate) {
  ASSERT_TRUE(Plug("mk", "firmware=105"));
  Run first = Update(kMK.Id);
  EXPECT_EQ(first.status, 0) << first.output;
  EXPECT_TRUE(Shows(first, Text(37))) << first.output;
  ASSERT_TRUE(DownloadEnded());
  EXPECT_EQ(Record(), BlockRecordOf(ReadWholeFile(FirmwarePath(kMK))));
  EXPECT_FALSE(Ejected()) << "the firmware starts by itself";

  Run second = Update(kMK.Id);
  EXPECT_EQ(second.status, 0) << second.output;
  EXPECT_TRUE(Shows(second, UpToDate(230))) << second.output;
}

TEST_F(UpdateMKEndToEndTest, ASmallImageArrivesAsTheseBytes) {
  // Four bytes in block 1, one byte at 0x12345 in block 18; the blocks between are blank.
  WriteFirmware(kMK, ":04100000DEADBEEFB4\n:020000040001F9\n:01234500A5F2\n:00000001FF\n");
  ASSERT_TRUE(Plug("mk", ""));
  Run run = UpdateUnchecked(kMK.Id);
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
    int cause = 0;  // the device link's message, printed once before the failure; 0 none
  };
  const Case cases[] = {
      {"block refused", "refuse_ack=2", 1, {Text(20016), Text(38)}, "download block\nend incomplete\n", 20016},
      {"connection dropped in mid-block", "close_after=2000", 1, {Text(38)}, "download block\nend incomplete\n", 20009},
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
    if (c.cause != 0) {
      EXPECT_EQ(TimesShown(run, CauseLine(c.cause)), 1u) << run.output;
      EXPECT_LT(run.output.find(CauseLine(c.cause)), run.output.find(Text(38))) << run.output;
    }
    if (!c.record.empty()) {
      ASSERT_TRUE(DownloadEnded());
    }
    EXPECT_EQ(Record(), c.record);
  }
}

// "Succeeded" only for firmware the device got whole: an empty HEX file, one cut short or
// broken by a blank line, a pipe or a device as the file fail before the download begins.
TEST_F(UpdateMKEndToEndTest, FirmwareThatIsNotThereWholeIsNeverSent) {
  const std::string hex = ReadWholeFile(FirmwarePath(kMK));
  const std::size_t half = hex.find('\n', hex.size() / 2) + 1;
  const std::size_t second = hex.find('\n', hex.find('\n') + 1) + 1;
  std::vector<CBadFirmware> cases;
  cases.push_back(BadFirmwareText("empty", "", ":1: The file ends before its end-of-file record"));
  cases.push_back(BadFirmwareText("cut short", hex.substr(0, half), "The file ends before its end-of-file record"));
  cases.push_back(BadFirmwareText("a blank line", hex.substr(0, second) + "\n" + hex.substr(second),
                                  ":3: The line is empty, but the end-of-file record has not come yet."));
  cases.push_back(BadFirmwareText("only the end record", ":00000001FF\n", ": The file holds no data to send."));
  ExpectNeverDownloaded(kMK.Id, FirmwarePath(kMK), [this] { return Plug("mk", ""); },
                        WithSpecialFirmwareFiles(std::move(cases)));
}

TEST_F(UpdateMKEndToEndTest, UpdatesThroughTheRealUsbPath) {
  if (!BridgeUsable()) GTEST_SKIP() << "umockdev's preload library is missing (scripts/setup.sh installs it)";
  ASSERT_TRUE(Plug("mk", "firmware=105"));
  Run run = UpdateThroughBridge(kMK.Id);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Shows(run, Text(37))) << run.output;
  ASSERT_TRUE(DownloadEnded());
  EXPECT_EQ(Record(), BlockRecordOf(ReadWholeFile(FirmwarePath(kMK))));
}

}  // namespace
