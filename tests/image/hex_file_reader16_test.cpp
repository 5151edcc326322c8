#include "devices/c28xx/flash_regions_c28xx.h"
#include "image/hex_file_reader16.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/image_files.h"

using namespace image_test;

namespace {

// Word data as it stands in a record: each word low byte first.
std::vector<std::uint8_t> WordBytes(const std::vector<std::uint16_t>& words) {
  std::vector<std::uint8_t> bytes;
  for (std::uint16_t w : words) {
    bytes.push_back(static_cast<std::uint8_t>(w & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(w >> 8));
  }
  return bytes;
}

// A data record at word address `address` (above 0xFFFF through a type 04 record first).
std::string WordRecord(std::uint32_t address, const std::vector<std::uint16_t>& words) {
  return HexExtLinear(address >> 16) + "\n" + HexData(address & 0xFFFF, WordBytes(words)) + "\n";
}

class HexFileReader16Test : public ::testing::Test {
 protected:
  std::uint32_t Load(const std::string& text) {
    m_text = text;
    m_reader.OpenMemory(m_text, "image16.hex");
    return m_reader.LoadSegments(m_segments, kFlashRegionsC28xx);
  }
  const CFlashSeg16& Segment(std::size_t i) const { return *m_segments.at(i); }

  std::string m_text;
  CIntelHexFileReader16 m_reader;
  CFlashSeg16Array m_segments;
};

TEST_F(HexFileReader16Test, WordsAreReadLowByteFirstAtWordAddresses) {
  // Type 04 with 0x0030, then a record at 0x0000: word address 0x300000.
  EXPECT_EQ(Load(Lines({HexExtLinear(0x0030), HexData(0x0000, {0x34, 0x12, 0x78, 0x56}), kHexEof})), 2u);
  EXPECT_FALSE(m_reader.Failed());
  ASSERT_EQ(m_segments.size(), 1u);
  EXPECT_EQ(Segment(0).Start, 0x300000u);
  EXPECT_EQ(Segment(0).End, 0x303FFFu);
  EXPECT_EQ(Segment(0).Kind, 1);
  EXPECT_EQ(Segment(0).Size, 2u);
  EXPECT_EQ(Segment(0).Data.size(), 0x4000u);
  EXPECT_EQ(Segment(0).Data[0], 0x1234);
  EXPECT_EQ(Segment(0).Data[1], 0x5678);
  EXPECT_EQ(Segment(0).Data[2], 0xFFFF);
}

TEST_F(HexFileReader16Test, ExtendedAddressValuesAreReadAsTheByteReaderReadsThem) {
  struct Case {
    std::string extended;
    std::uint32_t base;
  } cases[] = {{HexExtLinear(0x0030), 0x300000}, {HexExtSegment(0x1234), 0x12340},
               {HexExtLinear(0x1234), 0x12340000}};
  for (const auto& c : cases) {
    CIntelHexFileReader16 reader;
    std::string text = Lines({c.extended, HexData(0x0002, {1, 2})});
    reader.OpenMemory(text, "mem.hex");
    ASSERT_TRUE(reader.ReadRecord());
    EXPECT_EQ(reader.BaseAddress(), c.base) << c.extended;
    EXPECT_EQ(reader.RecordAddress(), c.base + 2) << c.extended;
    EXPECT_EQ(reader.RecordLength(), 1u) << "the length counts words";
    EXPECT_EQ(reader.Words()[0], 0x0201);
  }
}

TEST_F(HexFileReader16Test, ARecordAcrossARegionEndIsSplit) {
  EXPECT_EQ(Load(WordRecord(0x303FFE, {1, 2, 3, 4})), 0x4000u + 2u);
  ASSERT_EQ(m_segments.size(), 2u);
  EXPECT_EQ(Segment(0).Start, 0x300000u);
  EXPECT_EQ(Segment(0).Size, 0x4000u);
  EXPECT_EQ(Segment(0).Data[0x3FFE], 1);
  EXPECT_EQ(Segment(0).Data[0x3FFF], 2);
  EXPECT_EQ(Segment(1).Start, 0x304000u);
  EXPECT_EQ(Segment(1).End, 0x307FFFu);
  EXPECT_EQ(Segment(1).Kind, 2);
  EXPECT_EQ(Segment(1).Size, 2u);
  EXPECT_EQ(Segment(1).Data[0], 3);
  EXPECT_EQ(Segment(1).Data[1], 4);
}

// Dropping the words past the end of a record's new segment would lose image data: they go
// on into the segment of the next region.
TEST_F(HexFileReader16Test, ARecordThatStartsANewSegmentAcrossARegionEndLosesNothing) {
  Load(WordRecord(0x300000, {1, 2}) + WordRecord(0x307FFE, {3, 4, 5, 6}));
  ASSERT_EQ(m_segments.size(), 3u);
  EXPECT_EQ(Segment(1).Start, 0x304000u);
  EXPECT_EQ(Segment(1).Data[0x3FFE], 3);
  EXPECT_EQ(Segment(1).Data[0x3FFF], 4);
  EXPECT_EQ(Segment(2).Start, 0x308000u);
  EXPECT_EQ(Segment(2).Size, 2u);
  EXPECT_EQ(Segment(2).Data[0], 5);
  EXPECT_EQ(Segment(2).Data[1], 6);
}

TEST_F(HexFileReader16Test, TrimmingDropsErasedWordsAndRoundsUpToEven) {
  struct Case {
    std::vector<std::uint16_t> words;
    std::uint32_t count;
  } cases[] = {
      {{0xFFFF, 0xFFFF}, 0},             // all erased: count 0, the segment stays
      {{1, 2, 0xFFFF, 0xFFFF}, 2},       // erased words at the end are not counted
      {{1, 2, 3}, 4},                    // odd: one erased word added
      {{0xFFFF, 5, 0xFFFF}, 2},          // erased words inside are kept
      {{1}, 2},
  };
  for (const auto& c : cases) {
    m_segments.clear();
    CIntelHexFileReader16 reader;
    std::string text = WordRecord(0x310000, c.words);
    reader.OpenMemory(text, "mem.hex");
    EXPECT_EQ(reader.LoadSegments(m_segments, kFlashRegionsC28xx), c.count);
    ASSERT_EQ(m_segments.size(), 1u);
    EXPECT_EQ(m_segments[0]->Size, c.count);
    EXPECT_EQ(m_segments[0]->Data[c.count], 0xFFFF);
  }
}

TEST_F(HexFileReader16Test, TheTotalCountsEverySegmentInListOrder) {
  // One word in a kind-0 region above the programmed blocks, after two programmed ones.
  std::uint32_t total = Load(WordRecord(0x300000, {1, 2}) + WordRecord(0x308010, {3}) +
                             WordRecord(0x330000, {4, 5, 6, 7}));
  ASSERT_EQ(m_segments.size(), 3u);
  EXPECT_EQ(Segment(0).Size, 2u);
  EXPECT_EQ(Segment(1).Start, 0x308000u);
  EXPECT_EQ(Segment(1).Kind, 1);
  EXPECT_EQ(Segment(1).Size, 0x12u);
  EXPECT_EQ(Segment(2).Start, 0x330000u);
  EXPECT_EQ(Segment(2).Kind, 0);
  EXPECT_EQ(Segment(2).Size, 4u);
  EXPECT_EQ(total, 2u + 0x12u + 4u);
}

TEST_F(HexFileReader16Test, ARecordBackInAnEarlierRegionStartsAFurtherSegment) {
  Load(WordRecord(0x300000, {1, 2}) + WordRecord(0x304000, {3, 4}) + WordRecord(0x300010, {5, 6}));
  ASSERT_EQ(m_segments.size(), 3u);
  EXPECT_EQ(Segment(2).Start, 0x300000u);
  EXPECT_EQ(Segment(2).Data[0x10], 5);
  EXPECT_EQ(Segment(2).Data[0], 0xFFFF) << "the later segment does not see the earlier one's words";
  EXPECT_EQ(Segment(0).Data[0x10], 0xFFFF);
}

TEST_F(HexFileReader16Test, RecordsOfTypes01_03_05ChangeNothing) {
  std::string plain = WordRecord(0x300000, {1, 2});
  std::string mixed = HexLine(3, 0, {1, 2, 3, 4}) + "\n" + kHexEof + "\n" + HexExtLinear(0x0030) + "\n" +
                      HexLine(5, 0, {0, 0x30, 0, 0}) + "\n" + HexData(0, WordBytes({1, 2})) + "\n" + kHexEof + "\n";
  EXPECT_EQ(Load(mixed), 2u);
  ASSERT_EQ(m_segments.size(), 1u);
  EXPECT_EQ(Segment(0).Start, 0x300000u);
  EXPECT_EQ(Segment(0).Data[1], 2);
}

// Nothing to send, or a file cut short before its end record: refused, whatever was loaded.
TEST_F(HexFileReader16Test, AFileWithoutDataOrWithoutItsEndRecordIsRefused) {
  const struct {
    const char* what;
    std::string text;
    std::string message;
  } cases[] = {
      {"an empty file", "", "image16.hex:1: The file ends before its end-of-file record: the image is incomplete."},
      {"only the end record", Lines({kHexEof}), "image16.hex: The file holds no data to send."},
      {"only erased words", WordRecord(0x300000, {0xFFFF, 0xFFFF}) + Lines({kHexEof}),
       "image16.hex: The file holds no data to send."},
      {"no end record", WordRecord(0x300000, {1, 2}) + WordRecord(0x310000, {3, 4}),
       "image16.hex:5: The file ends before its end-of-file record: the image is incomplete."},
      {"a blank line", WordRecord(0x300000, {1, 2}) + "\n" + WordRecord(0x310000, {3, 4}) + Lines({kHexEof}),
       "image16.hex:3: The line is empty, but the end-of-file record has not come yet."},
  };
  for (const auto& c : cases) {
    m_segments.clear();
    Load(c.text);
    EXPECT_TRUE(m_reader.Failed()) << c.what;
    EXPECT_EQ(m_reader.LastError().Message(), c.message) << c.what;
  }
}

TEST_F(HexFileReader16Test, ADosEndOfFileCharacterBehindTheEndRecordIsNoFailure) {
  EXPECT_EQ(Load(WordRecord(0x300000, {1, 2}) + kHexEof + "\r\n\x1A"), 2u);
  EXPECT_FALSE(m_reader.Failed());
  m_segments.clear();
  Load(WordRecord(0x300000, {1, 2}) + kHexEof + "\n\x1A;");
  EXPECT_TRUE(m_reader.Failed());
  EXPECT_EQ(m_reader.LastError().Line(), 4);
}

// Every reason the loading stops early, with the line and the result the loader returns.
struct Refusal16Case {
  const char* name;
  std::string text;
  std::uint32_t result;
  std::size_t segments;  // made before the failure, and kept
  int line;
  std::string reason;
};

class HexFileReader16RefusalTest : public HexFileReader16Test,
                                   public ::testing::WithParamInterface<Refusal16Case> {};

INSTANTIATE_TEST_SUITE_P(
    Reasons, HexFileReader16RefusalTest,
    ::testing::Values(
        Refusal16Case{"AtTheEndOfTheTable", WordRecord(0x300000, {1, 2}) + WordRecord(0x340000, {3, 4}), 0, 1, 4,
                      "The address 0x340000 lies outside the flash regions of this device."},
        Refusal16Case{"BelowTheTable", WordRecord(0x2FFFFF, {1}), 0, 0, 2,
                      "The address 0x2FFFFF lies outside the flash regions of this device."},
        Refusal16Case{"RunningPastTheTable", WordRecord(0x33FFFF, {1, 2}), 0, 1, 2,
                      "The address 0x340000 lies outside the flash regions of this device."},
        // Checksum failures end the loading with the total of what was loaded so far.
        Refusal16Case{"OddByteCount", WordRecord(0x300000, {1, 2}) + HexData(0x0010, {1, 2, 3}) + "\n", 2, 1, 3,
                      "The checksum of the record is wrong."},
        Refusal16Case{"Checksum", WordRecord(0x300000, {1, 2}) + ":020010000100EC\n", 2, 1, 3,
                      "The checksum of the record is wrong."},
        Refusal16Case{"NoColon", WordRecord(0x300000, {1, 2}) + "020010000100ED\n", 2, 1, 3,
                      "The line does not begin with \":\"."},
        Refusal16Case{"RecordType7", WordRecord(0x300000, {1, 2}) + HexLine(7, 0, {}) + "\n", 2, 1, 3,
                      "The record type 07 is unknown."}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_P(HexFileReader16RefusalTest, FailsOnTheLine) {
  EXPECT_EQ(Load(GetParam().text), GetParam().result);
  EXPECT_TRUE(m_reader.Failed());
  EXPECT_EQ(m_segments.size(), GetParam().segments);
  EXPECT_EQ(m_reader.LastError().Message(),
            "image16.hex:" + std::to_string(GetParam().line) + ": " + GetParam().reason);
}

// The word download counts its segments in 16 bits: an image that changes regions 300 times is
// sent whole. Only the memory the region buffers take stops a file that never settles.
TEST_F(HexFileReader16Test, MoreSegmentsThanOneByteCountsAreTaken) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += WordRecord(i % 2 ? 0x304000 : 0x300000, {1, 2});
  EXPECT_EQ(Load(text + Lines({kHexEof})), 600u);
  EXPECT_FALSE(m_reader.Failed());
  EXPECT_EQ(m_segments.size(), 300u);
}

TEST_F(HexFileReader16Test, AFileThatKeepsChangingRegionsIsRefusedWhenItsBuffersGrowTooLarge) {
  constexpr std::size_t kRegionBytes = 0x4000 * sizeof(std::uint16_t);
  constexpr std::size_t kFitting = kMaxSegmentBufferBytes / kRegionBytes;
  std::string text;
  for (std::size_t i = 0; i <= kFitting; ++i) text += WordRecord(i % 2 ? 0x304000 : 0x300000, {1, 2});
  EXPECT_EQ(Load(text), 0u);
  EXPECT_EQ(m_segments.size(), kFitting);
  EXPECT_NE(m_reader.LastError().Message().find("The image needs more than " + std::to_string(kFitting) +
                                                " flash segments."),
            std::string::npos)
      << m_reader.LastError().Message();
}

TEST(FlashSeg16Test, TakesTheWholeRegionOfTheAddress) {
  struct Case {
    std::uint32_t address, start, end;
    std::uint16_t kind;
  } cases[] = {{0x300000, 0x300000, 0x303FFF, 1}, {0x303FFF, 0x300000, 0x303FFF, 1},
               {0x304000, 0x304000, 0x307FFF, 2}, {0x32FFFF, 0x32C000, 0x32FFFF, 2},
               {0x330000, 0x330000, 0x333FFF, 0}, {0x33FFFF, 0x33C000, 0x33FFFF, 0}};
  for (const auto& c : cases) {
    CFlashSeg16 segment(c.address, kFlashRegionsC28xx);
    EXPECT_EQ(segment.Start, c.start);
    EXPECT_EQ(segment.End, c.end);
    EXPECT_EQ(segment.Kind, c.kind);
    EXPECT_EQ(segment.Size, 0x4000u);
    EXPECT_EQ(segment.Data, std::vector<std::uint16_t>(0x4000, 0xFFFF));
  }
  EXPECT_THROW(CFlashSeg16(0x340000, kFlashRegionsC28xx), std::out_of_range);
  EXPECT_THROW(CFlashSeg16(0x2FFFFF, kFlashRegionsC28xx), std::out_of_range);
}

}  // namespace
