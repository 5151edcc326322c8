#pragma once
// The word-addressed Intel HEX reader of the DSP-based devices: every address counts 16-bit
// words, and a record's data bytes come in pairs, low byte first, that form those words.
// LoadSegments reads the whole file into flash segments cut along a region table.
//
// A download refuses an image that did not load completely:
//
//   CIntelHexFileReader16 reader;
//   if (!reader.OpenFile(path)) return false;           // the file error was shown
//   CFlashSeg16Array segments;
//   reader.LoadSegments(segments, kFlashRegionsC28xx);
//   if (reader.Failed()) { ShowImageRefusal(reader.LastError()); return false; }

#include <cstdint>
#include <memory>
#include <vector>

#include "image/flash_segment.h"
#include "image/hex_file_reader.h"

// A segment of a word image: its units are 16-bit words, its addresses word addresses.
using CFlashSeg16 = CFlashSegment<std::uint16_t>;
using CFlashSeg16Array = CSegmentCutter<std::uint16_t>::SegmentArray;

class CIntelHexFileReader16 : public CHexFileReader {
 public:
  static constexpr std::size_t kDataBufferWords = 1024;

  CIntelHexFileReader16();
  ~CIntelHexFileReader16() override;

  // Reads the rest of the file into `segments` along `table`, then trims each segment's
  // trailing 0xFFFF words and rounds an odd size up. Returns the sum of the sizes; 0 when a
  // record lies outside the table. On any failure Failed() is true and LastError() names the
  // line; the segments made so far stay in the array.
  std::uint32_t LoadSegments(CFlashSeg16Array& segments, FlashRegionTable table);

  const std::uint16_t* Words() const { return m_words; }

 protected:
  // The record's first two data bytes as they stand in the line, the first the high byte.
  std::uint16_t GetExtAddress() const override;
  // Halves the byte count into the word count; each word is read low byte first.
  bool ReadData(std::size_t& cursor, std::uint8_t checksum) override;

 private:
  bool LoadRecord(CSegmentCutter<std::uint16_t>& cutter, FlashRegionTable table);

  std::uint16_t m_words[kDataBufferWords] = {};
};
