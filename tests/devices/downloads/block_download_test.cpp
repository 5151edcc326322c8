#include "devices/downloads/block_download.h"

#include "devices/downloads/download_fixture.h"
#include "transport/stream_exception.h"

namespace {

using namespace image_test;

// The two formats the families use (the 2A interface and the MK interface).
constexpr CHexBlockFormat kHighByteFirst{2000, false};
constexpr CHexBlockFormat kLowByteFirst{1000, true};

class HexBlockDownloadTest : public DownloadTest {
 protected:
  // An image blank but for one byte at 0x12345 (block 18).
  std::string OneByteImage() {
    return m_folder.Write("fw.hex", Lines({HexExtLinear(0x0001), HexData(0x2345, {0xA5}), kHexEof}));
  }
};

TEST_F(HexBlockDownloadTest, SendsOnlyTheBlocksThatAreNotBlankInEachByteOrder) {
  struct Case {
    const char* name;
    CHexBlockFormat format;
    std::vector<Bytes> header;  // the block command's packets
    std::uint32_t startPause;
  };
  const Case cases[] = {
      {"high byte first", kHighByteFirst, {{0x04}, {0x00, 0x01, 0x20, 0x00}, {0x10, 0x00}}, 2000},
      {"low byte first", kLowByteFirst, {{0x04}, {0x00, 0x20, 0x01, 0x00}, {0x00, 0x10}}, 1000},
  };
  for (const Case& c : cases) {
    CVirtualClock clock;
    CClockScope scope(clock);
    CScriptedUserInterface ui;
    CMemoryStream stream;
    stream.Open();
    stream.Answer({CStreamIO::kAck, CStreamIO::kAck});

    EXPECT_TRUE(ProgramHexBlocks(stream, OneByteImage(), c.format)) << c.name;

    Bytes block(kHexBlockSize, 0xFF);
    block[0x345] = 0xA5;
    std::vector<Bytes> expected = {{0x1F}};
    expected.insert(expected.end(), c.header.begin(), c.header.end());
    expected.push_back(block);
    expected.push_back({0x10});
    EXPECT_EQ(stream.packets, expected) << c.name;
    EXPECT_EQ(clock.Waits(), (std::vector<std::uint32_t>{c.startPause, kHexBlockPause})) << c.name;
    EXPECT_TRUE(stream.input.empty()) << c.name;
    std::vector<std::string> texts;
    for (const auto& shown : ui.Record()) {
      if (shown.kind == "animation-text") texts.push_back(shown.text);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"Programming segment 18 at 12000\n"})) << c.name;
  }
}

TEST_F(HexBlockDownloadTest, WaitsAfterEveryBlockBeforeReadingItsAcknowledgement) {
  std::string path = m_folder.Write(
      "fw.hex", Lines({HexData(0x0000, Counting(16)), HexData(0x1000, Counting(16)), HexData(0x5000, {1}), kHexEof}));
  Acknowledge(6);
  EXPECT_TRUE(ProgramHexBlocks(m_stream, path, kHighByteFirst));
  EXPECT_EQ(m_clock.Waits(), (std::vector<std::uint32_t>{2000, 300, 300, 300}));
  EXPECT_EQ(m_stream.packets.size(), 1 + 3 * 4 + 1u);
}

TEST_F(HexBlockDownloadTest, AMissingAcknowledgementLeavesAsTheStreamError) {
  m_stream.Answer({CStreamIO::kAck, CStreamIO::kRefusal});
  try {
    ProgramHexBlocks(m_stream, OneByteImage(), kHighByteFirst);
    FAIL() << "no exception";
  } catch (const CStreamException& error) {
    EXPECT_EQ(error.MessageId(), 20016);
  }
  EXPECT_NE(m_stream.written.back(), 0x10) << "the end command never went out";
}

TEST_F(HexBlockDownloadTest, AnImageThatCannotBeReadWhollyIsNeverSent) {
  std::string badChecksum = HexData(0x0000, Counting(4));
  badChecksum.back() = badChecksum.back() == '0' ? '1' : '0';
  ExpectRefusedBeforeSending(
      {{"missing", "", "missing.hex"},
       {"bad checksum on line 2", Lines({HexData(0x0000, Counting(4)), badChecksum, kHexEof}), "bad.hex:2"},
       {"above 1 MiB", Lines({HexExtLinear(0x0010), HexData(0x0000, {1}), kHexEof}), "bad.hex:2"}},
      ".hex", [](CMemoryStream& stream, const std::string& path) {
        return ProgramHexBlocks(stream, path, kHighByteFirst);
      });
}

}  // namespace
