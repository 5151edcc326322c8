#include "devices/2a/flash_regions_2a.h"
#include "devices/downloads/region_table_a.h"
#include "image/flash_seg.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "support/image_files.h"

using namespace image_test;

namespace {

class SegmentFileTest : public ::testing::Test {
 protected:
  std::uint32_t Load(const std::string& bytes, FlashRegionTable table = kFlashRegionsA) {
    m_bytes = bytes;
    m_file.OpenMemory(m_bytes, "image.seg");
    return ReadSegmentFile(m_file, m_segments, table);
  }
  const CFlashSeg& Segment(std::size_t i) const { return *m_segments.at(i); }

  std::string m_bytes;
  CImageFile m_file;
  CFlashSegArray m_segments;
};

TEST_F(SegmentFileTest, ARecordAcrossARegionEndFillsTwoSegments) {
  // 0x100 bytes at 0x5F80 (table A): 0x80 bytes end the segment 0x4000-0x5FFF, 0x80 bytes
  // begin a new one at 0x6000.
  std::vector<std::uint8_t> data = Counting(0x100, 1);
  EXPECT_EQ(Load(SegmentRecord(0x5F80, data)), 0x2000u + 0x80u);
  EXPECT_FALSE(m_file.LastError().IsSet());
  ASSERT_EQ(m_segments.size(), 2u);
  EXPECT_EQ(Segment(0).Start, 0x4000u);
  EXPECT_EQ(Segment(0).End, 0x5FFFu);
  EXPECT_EQ(Segment(0).Kind, 1);
  EXPECT_EQ(Segment(0).Size, 0x2000u) << "the bytes in front of the record stay 0xFF and are sent";
  EXPECT_EQ(Segment(0).Data[0x1F7F], 0xFF);
  EXPECT_EQ(std::vector<std::uint8_t>(Segment(0).Data.begin() + 0x1F80, Segment(0).Data.end()),
            std::vector<std::uint8_t>(data.begin(), data.begin() + 0x80));
  EXPECT_EQ(Segment(1).Start, 0x6000u);
  EXPECT_EQ(Segment(1).End, 0x7FFFu);
  EXPECT_EQ(Segment(1).Size, 0x80u);
  EXPECT_EQ(std::vector<std::uint8_t>(Segment(1).Data.begin(), Segment(1).Data.begin() + 0x80),
            std::vector<std::uint8_t>(data.begin() + 0x80, data.end()));
}

// Dropping the bytes past the end of a record's new segment would lose image data: they go on
// into the segment of the next region.
TEST_F(SegmentFileTest, ARecordThatStartsANewSegmentAcrossARegionEndLosesNothing) {
  std::vector<std::uint8_t> data = Counting(0x100, 1);
  Load(SegmentRecord(0x4000, {1, 2}) + SegmentRecord(0x7F80, data));
  ASSERT_EQ(m_segments.size(), 3u);
  EXPECT_EQ(Segment(1).Start, 0x6000u);
  EXPECT_EQ(Segment(1).Size, 0x2000u);
  EXPECT_EQ(Segment(1).Data[0x1F80], 1);
  EXPECT_EQ(Segment(2).Start, 0x8000u);
  EXPECT_EQ(Segment(2).Size, 0x80u);
  EXPECT_EQ(std::vector<std::uint8_t>(Segment(2).Data.begin(), Segment(2).Data.begin() + 0x80),
            std::vector<std::uint8_t>(data.begin() + 0x80, data.end()));
}

TEST_F(SegmentFileTest, TrimmingDropsTrailingErasedBytesAndRoundsUpToEven) {
  struct Case {
    std::vector<std::uint8_t> data;
    std::uint32_t size;
  } cases[] = {
      {Bytes(0x20, 0xFF), 0},                 // all erased: size 0, the segment stays
      {Counting(0x101, 0), 0x102},            // 0x101 becomes 0x102
      {{1, 2, 0xFF, 0xFF}, 2},
      {{0xFF, 3, 0xFF}, 2},
      {{7}, 2},
  };
  for (const auto& c : cases) {
    m_segments.clear();
    CImageFile file;
    std::string bytes = SegmentRecord(0x8000, c.data);
    file.OpenMemory(bytes, "mem.seg");
    EXPECT_EQ(ReadSegmentFile(file, m_segments, kFlashRegionsA), c.size);
    ASSERT_EQ(m_segments.size(), 1u);
    EXPECT_EQ(m_segments[0]->Size, c.size);
    EXPECT_EQ(m_segments[0]->Data[c.size], 0xFF);
  }
}

TEST_F(SegmentFileTest, AFullRegionIsSentWhole) {
  std::string bytes;
  for (std::uint32_t address = 0x10000; address < 0x20000; address += 1024) bytes += SegmentRecord(address, Bytes(1024, 0x5A));
  EXPECT_EQ(Load(bytes), 0x10000u);
  ASSERT_EQ(m_segments.size(), 1u);
  EXPECT_EQ(Segment(0).Size, 0x10000u);
}

TEST_F(SegmentFileTest, TheTotalCountsKindZeroSegmentsToo) {
  std::uint32_t total = Load(SegmentRecord(0x0100, Bytes(0x10, 1)) + SegmentRecord(0x4000, Bytes(0x80, 2)));
  ASSERT_EQ(m_segments.size(), 2u);
  EXPECT_EQ(Segment(0).Start, 0u);
  EXPECT_EQ(Segment(0).Kind, 0);
  EXPECT_EQ(Segment(0).Size, 0x110u);
  EXPECT_EQ(Segment(1).Kind, 1);
  EXPECT_EQ(Segment(1).Size, 0x80u);
  EXPECT_EQ(total, 0x190u);
}

TEST_F(SegmentFileTest, OnlyTheCurrentSegmentIsExamined) {
  Load(SegmentRecord(0x4000, {1, 2}) + SegmentRecord(0x8000, {3, 4}) + SegmentRecord(0x4010, {5, 6}));
  ASSERT_EQ(m_segments.size(), 3u);
  EXPECT_EQ(Segment(2).Start, 0x4000u);
  EXPECT_EQ(Segment(2).Size, 0x12u);
  EXPECT_EQ(Segment(2).Data[0], 0xFF);
  EXPECT_EQ(Segment(0).Size, 2u) << "the earlier segment keeps only its own record";
}

TEST_F(SegmentFileTest, ConsecutiveRecordsOfARegionShareOneSegment) {
  Load(SegmentRecord(0x6000, {1, 2}) + SegmentRecord(0x7000, {3, 4}) + SegmentRecord(0x6002, {5, 6}));
  ASSERT_EQ(m_segments.size(), 1u);
  EXPECT_EQ(Segment(0).Data[2], 5);
  EXPECT_EQ(Segment(0).Size, 0x1002u);
}

TEST_F(SegmentFileTest, TableBCutsAlongItsOwnRegions) {
  Load(SegmentRecord(0x17FFE, {1, 2, 3, 4}), kFlashRegionsB);
  ASSERT_EQ(m_segments.size(), 2u);
  EXPECT_EQ(Segment(0).Start, 0x10000u);
  EXPECT_EQ(Segment(0).Kind, 1);
  EXPECT_EQ(Segment(1).Start, 0x18000u);
  EXPECT_EQ(Segment(1).End, 0x1FFFFu);
  EXPECT_EQ(Segment(1).Kind, 2);
}

// Nothing that would reach the device: refused, so that no download "succeeds" without a byte.
TEST_F(SegmentFileTest, AFileWithNothingToSendIsRefused) {
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"an empty file", ""},
      {"only erased bytes", SegmentRecord(0x4000, {0xFF, 0xFF, 0xFF})},
      {"only a region that is never sent", SegmentRecord(0x0100, {1, 2, 3})},
  };
  for (const auto& c : cases) {
    m_segments.clear();
    EXPECT_EQ(Load(c.bytes), 0u) << c.what;
    EXPECT_EQ(m_file.LastError().Reason(), "The file holds no data to send.") << c.what;
  }
}

// Every reason a load stops early, at the offset of the record it happened in.
struct SegmentRefusalCase {
  const char* name;
  std::string bytes;
  std::uint64_t offset;
  std::string reason;
  std::size_t segments;
};

class SegmentRefusalTest : public SegmentFileTest, public ::testing::WithParamInterface<SegmentRefusalCase> {};

const std::string kGood = SegmentRecord(0x4000, {1, 2, 3, 4});  // 12 bytes

std::string RecordWithLength(std::uint32_t address, std::uint32_t length, std::size_t dataBytes) {
  std::string record = SegmentRecord(address, Bytes(dataBytes, 0x11));
  for (int i = 0; i < 4; ++i) record[4 + i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  return record;
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, SegmentRefusalTest,
    ::testing::Values(
        SegmentRefusalCase{"RecordTooLong", kGood + RecordWithLength(0x4100, 1025, 1025), 12,
                           "The record length 1025 is above 1024 bytes.", 1},
        SegmentRefusalCase{"HugeLength", kGood + RecordWithLength(0x4100, 0xFFFFFFFF, 16), 12,
                           "The record length 4294967295 is above 1024 bytes.", 1},
        SegmentRefusalCase{"AddressCutShort", kGood + std::string("\x00\x41", 2), 12,
                           "The record is cut short by the end of the file (8 bytes needed, 2 left).", 1},
        SegmentRefusalCase{"LengthCutShort", kGood + std::string("\x00\x41\x00\x00\x10\x00", 6), 12,
                           "The record is cut short by the end of the file (8 bytes needed, 6 left).", 1},
        SegmentRefusalCase{"DataCutShort", kGood + RecordWithLength(0x4100, 0x10, 5), 12,
                           "The record is cut short by the end of the file (24 bytes needed, 13 left).", 1},
        SegmentRefusalCase{"AtTheEndOfTheTable", kGood + SegmentRecord(0x40000, {1}), 12,
                           "The address 0x40000 lies outside the flash regions of this device.", 1},
        SegmentRefusalCase{"FirstRecordOutside", SegmentRecord(0x123456, {1}), 0,
                           "The address 0x123456 lies outside the flash regions of this device.", 0},
        SegmentRefusalCase{"RunningPastTheTable", kGood + SegmentRecord(0x3FF80, Bytes(0x100, 1)), 12,
                           "The address 0x40000 lies outside the flash regions of this device.", 2},
        SegmentRefusalCase{"RestPastFourGigabytes", SegmentRecord(0xFFFFFF00, Bytes(0x200, 1)), 0,
                           "The address 0xFFFFFF00 lies outside the flash regions of this device.", 0}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_P(SegmentRefusalTest, FailsAtTheOffsetOfTheRecord) {
  EXPECT_EQ(Load(GetParam().bytes), 0u);
  const CImageLoadError& error = m_file.LastError();
  ASSERT_TRUE(error.IsSet());
  EXPECT_TRUE(error.HasOffset());
  EXPECT_EQ(error.Offset(), GetParam().offset);
  EXPECT_EQ(error.Message(), "image.seg: offset " + std::to_string(GetParam().offset) + ": " + GetParam().reason);
  EXPECT_EQ(m_segments.size(), GetParam().segments);
}

TEST_F(SegmentFileTest, AFileThatKeepsChangingRegionsIsRefused) {
  std::string bytes;
  for (int i = 0; i < 300; ++i) bytes += SegmentRecord(i % 2 ? 0x8000 : 0x4000, {1, 2});
  EXPECT_EQ(Load(bytes), 0u);
  EXPECT_EQ(m_segments.size(), kMaxSentSegments);
  EXPECT_EQ(m_file.LastError().Message(), "image.seg: offset 2550: The image needs more than 255 flash segments.");
}

// The download announces only the segments it sends, so only those count towards 255; the
// segments that stay home have a bound of their own.
TEST_F(SegmentFileTest, SegmentsThatAreNotSentDoNotCountTowardsTheLimit) {
  std::string mixed;  // 255 sent segments, each after one that is not sent
  for (int i = 0; i < 2 * 255; ++i) mixed += SegmentRecord(i % 2 ? 0x4000 : 0x0000, {1, 2});
  EXPECT_EQ(Load(mixed), 510u * 2);
  EXPECT_FALSE(m_file.LastError().IsSet()) << m_file.LastError().Message();
  EXPECT_EQ(std::count_if(m_segments.begin(), m_segments.end(), [](const auto& s) { return s->IsSent(); }), 255);

  m_segments.clear();
  std::string unsent;  // regions 0x00000 and 0x30000 are never sent
  for (int i = 0; i < 600; ++i) unsent += SegmentRecord(i % 2 ? 0x30000 : 0x0000, {1, 2});
  EXPECT_EQ(Load(unsent), 0u);
  EXPECT_EQ(m_segments.size(), kMaxFlashSegments);
  EXPECT_EQ(m_file.LastError().Message(), "image.seg: offset 5110: The image needs more than 511 flash segments.");
}

TEST_F(SegmentFileTest, AReadErrorFailsAtItsOffset) {
  // A regular file whose every read at offset 0 fails.
  CImageFile file;
  ASSERT_TRUE(file.Open("/proc/self/mem"));
  EXPECT_EQ(ReadSegmentFile(file, m_segments, kFlashRegionsA), 0u);
  EXPECT_EQ(file.LastError().Message(), "/proc/self/mem: offset 0: The file could not be read: Input/output error");
}

TEST_F(SegmentFileTest, AFileThatWasNotOpenedLoadsNothing) {
  CTempFolder folder;
  CImageFile file;
  EXPECT_FALSE(file.Open(folder / "missing.seg"));
  EXPECT_EQ(ReadSegmentFile(file, m_segments, kFlashRegionsA), 0u);
  EXPECT_EQ(file.LastError().Message(),
            (folder / "missing.seg") + ": The file could not be opened: No such file or directory");
}

TEST_F(SegmentFileTest, ReadsThroughTheBufferOfARealFile) {
  // Records that straddle the 64 KiB read buffer read the same as from memory.
  std::string bytes;
  for (std::uint32_t address = 0x10000; address < 0x30000; address += 1000) {
    bytes += SegmentRecord(address, Counting(1000, static_cast<std::uint8_t>(address >> 3)));
  }
  CTempFolder folder;
  std::string path = folder.Write("big.seg", bytes);
  CImageFile file;
  ASSERT_TRUE(file.Open(path));
  CFlashSegArray fromFile;
  std::uint32_t totalFromFile = ReadSegmentFile(file, fromFile, kFlashRegionsA);
  EXPECT_FALSE(file.LastError().IsSet());
  EXPECT_EQ(totalFromFile, Load(bytes));
  ASSERT_EQ(fromFile.size(), m_segments.size());
  for (std::size_t i = 0; i < fromFile.size(); ++i) {
    EXPECT_EQ(fromFile[i]->Data, m_segments[i]->Data);
    EXPECT_EQ(fromFile[i]->Size, m_segments[i]->Size);
  }
}

TEST(FlashSegTest, TakesTheWholeRegionOfTheAddress) {
  struct Case {
    std::uint32_t address, start, end;
    std::uint16_t kind;
  } cases[] = {{0x00000, 0x00000, 0x03FFF, 0}, {0x03FFF, 0x00000, 0x03FFF, 0}, {0x04000, 0x04000, 0x05FFF, 1},
               {0x1ABCD, 0x10000, 0x1FFFF, 1}, {0x3FFFF, 0x30000, 0x3FFFF, 0}};
  for (const auto& c : cases) {
    CFlashSeg segment(c.address, kFlashRegionsA);
    EXPECT_EQ(segment.Start, c.start);
    EXPECT_EQ(segment.End, c.end);
    EXPECT_EQ(segment.Kind, c.kind);
    EXPECT_EQ(segment.Size, c.end - c.start + 1);
    EXPECT_EQ(segment.Data, std::vector<std::uint8_t>(segment.Size, 0xFF));
  }
  EXPECT_THROW(CFlashSeg(0x40000, kFlashRegionsA), std::out_of_range);
}

}  // namespace
