// Page-wise programming over a memory transport on the virtual clock: the HEX page image and
// its refusals, the page size codes, the pages byte for byte with their checksums, the tries
// per page, the restart and its wait, and the status texts.

#include "devices/downloads/page_download.h"

#include <cstdarg>

#include "devices/downloads/download_fixture.h"
#include "image/hex_file_reader.h"
#include "image/image_strings.h"
#include "platform/text_format.h"
#include "updater/flash_progress.h"

namespace {

using namespace image_test;

// What the programming reports, in order: "range A-B" and "status TEXT".
class CRecordingProgress : public IFlashProgress {
 public:
  void SetRange(std::uint16_t lower, std::uint16_t upper) override {
    shown.push_back(FormatText("range %u-%u", lower, upper));
  }
  bool SetPos(int position) override {
    shown.push_back(FormatText("pos %d", position));
    return true;
  }
  void SetMarquee() override { shown.push_back("marquee"); }
  void SetDetailText(const std::string& text) override { shown.push_back("detail " + text); }
  bool PumpMessages() override { return true; }

  std::vector<std::string> shown;

 protected:
  void ShowStatusText(const std::string& text) override { shown.push_back("status " + text); }
};

class PageDownloadTest : public DownloadTest {
 protected:
  // The device information answer with page size `code`.
  static Bytes DeviceInfo(std::uint8_t code) { return {0x00, 0x00, 0x00, code, CStreamIO::kAck}; }

  // One page of `size` bytes at page `number` as the device must receive it: its number, its
  // bytes, the sum of its bytes.
  static std::vector<Bytes> PageFrames(std::uint16_t number, const Bytes& page) {
    unsigned sum = 0;
    for (std::uint8_t byte : page) sum += byte;
    return {{static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number)},
            page,
            {static_cast<std::uint8_t>(sum & 0xFF)}};
  }

  // A file with four bytes at 0x10 (page 0 at every page size).
  std::string SmallImage() { return m_folder.Write("small.hex", Lines({HexData(0x10, {1, 2, 3, 4}), kHexEof})); }
};

TEST_F(PageDownloadTest, SendsEveryPageFromZeroThroughTheHighestAddressThenRestarts) {
  // Data at 0x120..0x123 and 0x1F0..0x1FF: with 256-byte pages, page 1; pages go from 0.
  Bytes high = Counting(16, 0xA0);
  std::string path = m_folder.Write("fw.hex", Lines({HexData(0x1F0, high), HexData(0x120, {9, 8, 7, 6}), kHexEof}));
  CRecordingProgress progress;
  CFlashUpdateAtmel programming(m_stream, &progress);
  ASSERT_TRUE(programming.LoadHexFile(path));
  m_stream.Answer(DeviceInfo(0x54));
  Acknowledge(2);

  EXPECT_TRUE(programming.ProgramPages());

  // Page 0 holds no data and is sent erased all the same.
  Bytes page0(256, 0xFF);
  Bytes page1(256, 0xFF);
  page1[0x20] = 9, page1[0x21] = 8, page1[0x22] = 7, page1[0x23] = 6;
  std::copy(high.begin(), high.end(), page1.begin() + 0xF0);
  std::vector<Bytes> expected = {{0x3C}};
  for (const Bytes& frame : PageFrames(0, page0)) expected.push_back(frame);
  for (const Bytes& frame : PageFrames(1, page1)) expected.push_back(frame);
  expected.push_back({0xFF, 0xFF});
  EXPECT_EQ(m_stream.packets, expected);
  EXPECT_TRUE(m_stream.input.empty());
  EXPECT_EQ(m_clock.Waits(), std::vector<std::uint32_t>{2000});
  EXPECT_EQ(progress.shown, (std::vector<std::string>{
                                "status Loading data.", "range 0-223",  // 0x1FF - 0x120
                                "range 0-2",                             // the bar counts pages
                                "status Writing page 0", "status Writing page  0 at 00000\n", "pos 1",
                                "status Writing page 1", "status Writing page  1 at 00100\n", "pos 2",
                                "status Rebooting device.", "status "}));
}

TEST_F(PageDownloadTest, PageSizeCodesFrom51To5BOnly) {
  struct Case {
    Bytes answer;  // to 3C; empty: none comes
    std::uint16_t pageSize;  // 0: GetDeviceInfo fails
    bool readFails = false;  // the link's read error is told before the failure
  };
  const Case cases[] = {
      {DeviceInfo(0x51), 32}, {DeviceInfo(0x52), 64}, {DeviceInfo(0x53), 128}, {DeviceInfo(0x54), 256},
      {DeviceInfo(0x5B), 32768},
      {DeviceInfo(0x50), 0}, {DeviceInfo(0x5C), 0}, {DeviceInfo(0x00), 0}, {DeviceInfo(0xFF), 0},
      {{0x00, 0x00, 0x00, 0x53, CStreamIO::kRefusal}, 0},  // not ended by "!"
      {{0x00, 0x00, 0x00, 0x53}, 0, true},                 // cut short: the read fails
      {{}, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.answer));
    CScriptedUserInterface ui;
    CMemoryStream stream;
    stream.Open();
    CRecordingProgress progress;
    CFlashUpdateAtmel programming(stream, &progress);
    ASSERT_TRUE(programming.LoadHexFile(SmallImage()));
    stream.Answer(c.answer);
    if (c.pageSize != 0) stream.Answer({CStreamIO::kAck});
    m_clock.ClearWaits();

    EXPECT_EQ(programming.ProgramPages(), c.pageSize != 0);

    if (c.pageSize != 0) {
      EXPECT_EQ(programming.PageSize(), c.pageSize);
      EXPECT_EQ(stream.packets.size(), 5u) << "3C, one page, FF FF";
      EXPECT_EQ(stream.packets[2].size(), c.pageSize);
      EXPECT_TRUE(ui.MessageTexts().empty());
    } else {
      EXPECT_EQ(stream.packets, std::vector<Bytes>{{0x3C}}) << "no page, no restart";
      std::vector<std::string> told{"GetDeviceInfo() failed."};
      if (c.readFails) told.insert(told.begin(), LoadResString(20009));
      EXPECT_EQ(ui.MessageTexts(), told);
      EXPECT_TRUE(m_clock.Waits().empty());
      EXPECT_EQ(progress.shown.back(), "status ");
    }
  }
}

TEST_F(PageDownloadTest, APageIsTriedFourTimesAndARefusalEndsAtOnceWithoutTheRestart) {
  const std::uint8_t E = 'E';  // anything but "!" and "?": try again
  struct Case {
    const char* name;
    Bytes answers;  // to the checksums; a missing one fails the read
    bool result;
    std::size_t sends;  // of the page
  };
  const Case cases[] = {
      {"written at once", {CStreamIO::kAck}, true, 1},
      {"written at the fourth try", {E, 0x00, E, CStreamIO::kAck}, true, 4},
      {"never written", {E, E, E, E, CStreamIO::kAck}, false, 4},
      {"refused", {CStreamIO::kRefusal}, false, 1},
      {"refused at the second try", {E, CStreamIO::kRefusal}, false, 2},
      {"no answer", {}, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CMemoryStream stream;
    stream.Open();
    CFlashUpdateAtmel programming(stream, nullptr);
    ASSERT_TRUE(programming.LoadHexFile(SmallImage()));
    stream.Answer(DeviceInfo(0x51));
    stream.Answer(c.answers);
    m_clock.ClearWaits();

    EXPECT_EQ(programming.ProgramPages(), c.result);

    Bytes page(32, 0xFF);
    page[0x10] = 1, page[0x11] = 2, page[0x12] = 3, page[0x13] = 4;
    std::vector<Bytes> expected = {{0x3C}};
    for (std::size_t i = 0; i < c.sends; ++i) {
      for (const Bytes& frame : PageFrames(0, page)) expected.push_back(frame);
    }
    if (c.result) expected.push_back({0xFF, 0xFF});
    EXPECT_EQ(stream.packets, expected);
    EXPECT_EQ(m_clock.Waits(), c.result ? std::vector<std::uint32_t>{2000} : std::vector<std::uint32_t>{});
  }
}

TEST_F(PageDownloadTest, AWriteThatFailsCountsAsARefusal) {
  // A transport whose writes fail after the device information: the page ends at once.
  class CFailingStream : public CMemoryStream {
   public:
    void Write(const std::uint8_t* buffer, unsigned count) override {
      if (!written.empty()) ThrowStreamException(20010);
      CMemoryStream::Write(buffer, count);
    }
  } stream;
  stream.Open();
  CFlashUpdateAtmel programming(stream, nullptr);
  ASSERT_TRUE(programming.LoadHexFile(SmallImage()));
  stream.Answer(DeviceInfo(0x51));
  EXPECT_EQ(programming.WritePage(), CStreamIO::kRefusal);
  stream.written.clear();
  EXPECT_FALSE(programming.ProgramPages());
  EXPECT_TRUE(m_clock.Waits().empty());
}

TEST_F(PageDownloadTest, TheImageTakesDataBelow128KiBThroughEveryAddressRecord) {
  struct Case {
    const char* name;
    std::string file;
    std::uint32_t lowest, highest;
    std::uint32_t pages;  // of 128 bytes
  };
  const Case cases[] = {
      {"one record", Lines({HexData(0x0200, {1, 2}), kHexEof}), 0x200, 0x201, 5},
      {"ending at 0x1FFFF", Lines({HexExtLinear(1), HexData(0xFFFE, {1, 2}), kHexEof}), 0x1FFFE, 0x1FFFF, 1024},
      {"extended segment address", Lines({HexExtSegment(0x1000), HexData(0x10, {5}), kHexEof}), 0x10010, 0x10010, 513},
      {"a record of no bytes", Lines({HexData(0x1000, {}), HexData(0x40, {5}), kHexEof}), 0x40, 0x40, 1},
      {"records after the end record", Lines({HexData(0x40, {5}), kHexEof, HexData(0x300, {6})}), 0x40, 0x300, 7},
      {"a DOS end-of-file character", Lines({HexData(0x40, {5}), kHexEof}, "\r\n") + "\x1A", 0x40, 0x40, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CIntelHexFileReader reader;
    reader.OpenMemory(c.file, "fw.hex");
    CPageImage image;
    CImageLoadError error = image.Load(reader);
    EXPECT_FALSE(error.IsSet()) << error.Message();
    EXPECT_EQ(image.LowestAddress(), c.lowest);
    EXPECT_EQ(image.HighestAddress(), c.highest);
    EXPECT_EQ(image.PageCount(128), c.pages);
  }
}

TEST_F(PageDownloadTest, AnImageThatDoesNotLoadCompletelyIsNeverSent) {
  const std::string outside = FormatMessage(LoadResString(23104), {"0x1FFFF", "2", "0x20000"});
  ExpectRefusedBeforeSending(
      {
          {"no end-of-file record", Lines({HexData(0, {1, 2})}), "bad.hex:2: " + LoadResString(IDS_IMAGE_NO_END_RECORD)},
          {"only the end-of-file record", Lines({kHexEof}), LoadResString(IDS_PAGES_NO_DATA)},
          {"start segment address", Lines({HexData(0, {1}), HexLine(3, 0, {0, 0, 0, 0}), kHexEof}), ":2: "},
          {"start linear address", Lines({HexData(0, {1}), HexLine(5, 0, {0, 0, 0, 0}), kHexEof}), ":2: "},
          {"a record type above 5", Lines({HexLine(6, 0, {}), kHexEof}), ":1: "},
          {"reaching 0x20000", Lines({HexExtLinear(1), HexData(0xFFFF, {1, 2}), kHexEof}), ":2: " + outside},
          {"a wrong checksum", Lines({":0100000001FF", kHexEof}), ":1: " + LoadResString(23101)},
          {"a line longer than 1023 characters", ":" + std::string(1100, '0') + "\n" + kHexEof + "\n", ":1: "},
          {"missing file", "", "missing.hex"},
      },
      ".hex", [](CMemoryStream& stream, const std::string& path) {
        CFlashUpdateAtmel programming(stream, nullptr);
        return programming.LoadHexFile(path) && programming.ProgramPages();
      });
}

}  // namespace
