#include "devices/downloads/region_table_a.h"
#include "devices/downloads/segment_download.h"

#include "devices/downloads/download_fixture.h"
#include "platform/text_format.h"

namespace {

using namespace image_test;

class FlashUpdateSegTest : public DownloadTest {
 protected:
  // A segment of region table A holding `data` from its start.
  static std::unique_ptr<CFlashSeg> Segment(std::uint32_t start, const Bytes& data, std::uint16_t kind = 1) {
    auto segment = std::make_unique<CFlashSeg>(start, kFlashRegionsA);
    std::copy(data.begin(), data.end(), segment->Data.begin());
    segment->Size = static_cast<std::uint32_t>(data.size());
    segment->Kind = kind;
    return segment;
  }

  bool Send(CFlashSegArray& segments) {
    CFlashUpdateSeg download(&m_stream);
    return download.SendSegments(segments);
  }
};

TEST_F(FlashUpdateSegTest, SendsHeaderThenEachSegmentHeaderAndDataAsPacketsAndResets) {
  CFlashSegArray segments;
  segments.push_back(Segment(0x0000, Counting(16), FLASH_REGION_NOT_SENT));  // never announced
  segments.push_back(Segment(0x4000, Counting(0x1000)));
  segments.push_back(Segment(0x8000, Counting(0x2000, 7)));
  Acknowledge(5);

  EXPECT_TRUE(Send(segments));

  const std::vector<Bytes> expected = {
      {0x1F, 0x01, 0x02, 0x00, 0x01},
      {0x00, 0x00, 0x40, 0x00, 0x10, 0x00, 0x00, 0x01}, Counting(0x1000),
      {0x00, 0x00, 0x80, 0x00, 0x20, 0x00, 0x00, 0x01}, Counting(0x2000, 7),
  };
  EXPECT_EQ(m_stream.packets, expected);
  EXPECT_EQ(m_stream.resets, 1);
  EXPECT_TRUE(segments.empty());
  EXPECT_TRUE(m_stream.input.empty()) << "every acknowledgement was read";
  EXPECT_TRUE(m_ui.MessageTexts().empty());
}

TEST_F(FlashUpdateSegTest, SizeFieldCarriesTheLow16BitsAndDataFollowsInFull) {
  struct Case {
    const char* name;
    std::uint32_t start;
    Bytes data;
    Bytes header;
  };
  const Case cases[] = {
      // A full 64 KiB region: the size field wraps to 0, all 65536 bytes follow.
      {"full", 0x10000, Counting(0x10000, 1), {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}},
      // An erased segment is still announced, with size 0 and an empty write.
      {"empty", 0x4000, {}, {0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x01}},
  };
  for (const Case& c : cases) {
    CMemoryStream stream;
    stream.Open();
    stream.Answer(Bytes(3, CStreamIO::kAck));
    CFlashSegArray segments;
    segments.push_back(Segment(c.start, c.data));
    CFlashUpdateSeg download(&stream);
    EXPECT_TRUE(download.SendSegments(segments)) << c.name;
    const std::vector<Bytes> expected = {{0x1F, 0x01, 0x01, 0x00, 0x01}, c.header, c.data};
    EXPECT_EQ(stream.packets, expected) << c.name;
  }
}

TEST_F(FlashUpdateSegTest, NothingToSendStillAnnouncesAndResets) {
  CFlashSegArray segments;
  segments.push_back(Segment(0x0000, Counting(8), FLASH_REGION_NOT_SENT));
  Acknowledge(1);
  EXPECT_TRUE(Send(segments));
  EXPECT_EQ(m_stream.packets, (std::vector<Bytes>{{0x1F, 0x01, 0x00, 0x00, 0x01}}));
  EXPECT_EQ(m_stream.resets, 1);
}

// The header's count byte could not announce them: the device never hears a wrong count.
TEST_F(FlashUpdateSegTest, MoreThan255SentSegmentsAreNeverAnnounced) {
  CFlashSegArray segments;
  for (int i = 0; i < 256; ++i) segments.push_back(Segment(i % 2 ? 0x4000 : 0x8000, Counting(2)));
  EXPECT_FALSE(Send(segments));
  EXPECT_TRUE(m_stream.packets.empty());
  EXPECT_EQ(m_stream.resets, 0);
}

TEST_F(FlashUpdateSegTest, FailuresStopTheDownloadAsTheDeviceWouldNeedIt) {
  struct Case {
    const char* name;
    Bytes answers;             // the device's answers, in order; then it is silent
    std::size_t packetsSent;   // header, segment header, data, ...
    int resets;
    std::vector<int> messages; // string ids shown
  };
  const Case cases[] = {
      // Every failure is told; a refused header needs no reset.
      {"header refused", {CStreamIO::kRefusal}, 1, 0, {20016}},
      {"header unanswered", {}, 1, 1, {20009}},
      {"data refused", {0x21, 0x21, CStreamIO::kRefusal}, 3, 1, {20016}},
      {"silent in mid-segment", {0x21, 0x21}, 3, 1, {20009}},
  };
  for (const Case& c : cases) {
    CScriptedUserInterface ui;
    CMemoryStream stream;
    stream.Open();
    stream.Answer(c.answers);
    CFlashSegArray segments;
    segments.push_back(Segment(0x4000, Counting(0x100)));
    segments.push_back(Segment(0x8000, Counting(0x100)));
    CFlashUpdateSeg download(&stream);

    EXPECT_FALSE(download.SendSegments(segments)) << c.name;
    EXPECT_EQ(stream.packets.size(), c.packetsSent) << c.name;
    EXPECT_EQ(stream.resets, c.resets) << c.name;
    EXPECT_TRUE(segments.empty()) << c.name;
    std::vector<std::string> expected;
    for (int id : c.messages) expected.push_back(LoadResString(id));
    EXPECT_EQ(ui.MessageTexts(), expected) << c.name;
  }
}

TEST_F(FlashUpdateSegTest, UpdateFromFileLoadsAndSendsUnderTheAnimationWindow) {
  std::string path = m_folder.Write("fw.seg", SegmentRecord(0x4000, Counting(0x400)) +
                                                  SegmentRecord(0x4400, Counting(0x100, 9)));
  Acknowledge(3);
  CFlashUpdateSeg download(&m_stream);

  EXPECT_TRUE(download.UpdateFromFile(path, kFlashRegionsA));

  Bytes data = Counting(0x400);
  Bytes tail = Counting(0x100, 9);
  data.insert(data.end(), tail.begin(), tail.end());
  ASSERT_EQ(m_stream.packets.size(), 3u);
  EXPECT_EQ(m_stream.packets[1], (Bytes{0x00, 0x00, 0x40, 0x00, 0x05, 0x00, 0x00, 0x01}));
  EXPECT_EQ(m_stream.packets[2], data);
  EXPECT_EQ(Shown("animation-text"), (std::vector<std::string>{"Loading data..", "Transmitting data"}));
  EXPECT_EQ(Shown("animation-closed").size(), 1u);
}

TEST_F(FlashUpdateSegTest, AnImageThatCannotBeReadWhollyIsNeverSent) {
  std::string cutShort = SegmentRecord(0x4000, Counting(0x40));
  cutShort.resize(cutShort.size() - 3);
  ExpectRefusedBeforeSending({{"missing", "", "missing.seg"},
                              {"record cut short", cutShort, "offset 0"},
                              {"outside every region", SegmentRecord(0x90000, Counting(4)), "offset 0"}},
                             ".seg", [](CMemoryStream& stream, const std::string& path) {
                               return CFlashUpdateSeg(&stream).UpdateFromFile(path, kFlashRegionsA);
                             });
}

}  // namespace
