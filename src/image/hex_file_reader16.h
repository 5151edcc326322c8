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

#include "image/flash_region.h"
#include "image/hex_file_reader.h"

// One segment of a word image: a whole region of the table, its words 0xFFFF until loaded.
class CFlashSeg16 {
 public:
  // The segment of the region that holds word address `address`; the address must lie in
  // the table (std::out_of_range otherwise).
  CFlashSeg16(std::uint32_t address, FlashRegionTable table);

  std::uint32_t Start;  // first word address
  std::uint32_t End;    // last word address (inclusive)
  std::uint32_t Count;  // words to program from Start; End - Start + 1 until trimmed
  std::uint16_t Kind;   // the region's kind; 0 is never programmed
  std::vector<std::uint16_t> Data;
};

using CFlashSeg16Array = std::vector<std::unique_ptr<CFlashSeg16>>;

class CIntelHexFileReader16 : public CHexFileReader {
 public:
  static constexpr std::size_t kDataBufferWords = 1024;
  // The most segments one load makes: the downloads announce far fewer, and the bound keeps a
  // hostile file from making a region-sized buffer per record.
  static constexpr std::size_t kMaxSegments = 255;

  CIntelHexFileReader16();
  ~CIntelHexFileReader16() override;

  // Reads the rest of the file into `segments` along `table`, then trims each segment's
  // trailing 0xFFFF words and rounds an odd count up. Returns the sum of the counts; 0 when a
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
  bool LoadRecord(CFlashSeg16Array& segments, FlashRegionTable table, std::uint32_t high,
                  CFlashSeg16*& current);
  CFlashSeg16* AddSegment(CFlashSeg16Array& segments, std::uint32_t address, FlashRegionTable table);

  std::uint16_t m_words[kDataBufferWords] = {};
};
