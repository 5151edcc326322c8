#include "image/hex_file_reader16.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "image/image_strings.h"
#include "platform/string_table.h"
#include "platform/text_format.h"

namespace {

// The start of the end mark: the first address past the table.
std::uint32_t EndOfTable(FlashRegionTable table) {
  for (const FlashRegion& region : table) {
    if (region.Kind == FLASH_REGION_END) return region.Start;
  }
  return table.empty() ? 0 : table.back().Start;
}

std::string WordAddressText(std::uint64_t address) {
  return FormatText("0x%06llX", static_cast<unsigned long long>(address));
}

}  // namespace

// ---- CFlashSeg16

CFlashSeg16::CFlashSeg16(std::uint32_t address, FlashRegionTable table) {
  std::optional<std::size_t> region = FindFlashRegion(table, address);
  if (!region) throw std::out_of_range("word address outside the region table");
  Start = table[*region].Start;
  End = table[*region + 1].Start - 1;
  Count = End - Start + 1;
  Kind = table[*region].Kind;
  Data.assign(Count, 0xFFFF);
}

// ---- CIntelHexFileReader16

CIntelHexFileReader16::CIntelHexFileReader16() = default;
CIntelHexFileReader16::~CIntelHexFileReader16() = default;

std::uint16_t CIntelHexFileReader16::GetExtAddress() const {
  // Word 0 holds the first byte of the line in its low half.
  return static_cast<std::uint16_t>((m_words[0] & 0xFF) << 8 | m_words[0] >> 8);
}

bool CIntelHexFileReader16::ReadData(std::size_t& cursor, std::uint8_t checksum) {
  m_recordLength /= 2;
  if (const char* text = LineChars(cursor, 4 * m_recordLength + 2)) {
    // The whole record is in the line: decode it without looking for the line end.
    for (std::uint32_t i = 0; i < m_recordLength; ++i, text += 4) {
      std::uint8_t low = HexPair(text);
      std::uint8_t high = HexPair(text + 2);
      checksum = static_cast<std::uint8_t>(checksum + low + high);
      m_words[i] = static_cast<std::uint16_t>(low | high << 8);
    }
    cursor += 4 * m_recordLength + 2;
    return HexPair(text) == static_cast<std::uint8_t>(-checksum);
  }
  for (std::uint32_t i = 0; i < m_recordLength; ++i) {
    std::uint8_t low = HexByte(cursor);
    std::uint8_t high = HexByte(cursor);
    checksum = static_cast<std::uint8_t>(checksum + low + high);
    m_words[i] = static_cast<std::uint16_t>(low | high << 8);
  }
  return HexByte(cursor) == static_cast<std::uint8_t>(-checksum);
}

CFlashSeg16* CIntelHexFileReader16::AddSegment(CFlashSeg16Array& segments, std::uint32_t address,
                                               FlashRegionTable table) {
  if (segments.size() >= kMaxSegments) {
    FailOnLine(FormatMessage(LoadResString(IDS_IMAGE_TOO_MANY_SEGMENTS),
                             {std::to_string(kMaxSegments)}));
    return nullptr;
  }
  segments.push_back(std::make_unique<CFlashSeg16>(address, table));
  return segments.back().get();
}

bool CIntelHexFileReader16::LoadRecord(CFlashSeg16Array& segments, FlashRegionTable table,
                                       std::uint32_t high, CFlashSeg16*& current) {
  const std::uint32_t address = m_recordAddress;
  const std::uint32_t count = m_recordLength;
  if (address < table.front().Start || address >= high) {
    return FailOnLine(FormatMessage(LoadResString(IDS_IMAGE_OUTSIDE_REGIONS), {WordAddressText(address)}));
  }
  if (current == nullptr && (current = AddSegment(segments, address, table)) == nullptr) return false;

  // The part of the record in the current segment goes there; the rest starts a new segment,
  // also when a segment for its region was made before. A rest that runs past the end of its
  // new segment goes on into a further one rather than being lost.
  std::uint64_t at = address;
  std::uint32_t done = 0;
  while (done < count) {
    if (at >= high) {
      return FailOnLine(FormatMessage(LoadResString(IDS_IMAGE_OUTSIDE_REGIONS), {WordAddressText(at)}));
    }
    auto address32 = static_cast<std::uint32_t>(at);
    if (address32 < current->Start || address32 > current->End) {
      if ((current = AddSegment(segments, address32, table)) == nullptr) return false;
    }
    std::uint32_t fit = std::min<std::uint32_t>(count - done, current->End - address32 + 1);
    std::copy_n(m_words + done, fit, current->Data.begin() + (address32 - current->Start));
    done += fit;
    at += fit;
  }
  return true;
}

std::uint32_t CIntelHexFileReader16::LoadSegments(CFlashSeg16Array& segments, FlashRegionTable table) {
  if (table.empty()) return 0;
  const std::uint32_t high = EndOfTable(table);
  CFlashSeg16* current = nullptr;
  try {
    while (ReadRecord()) {
      if (!LoadRecord(segments, table, high, current)) return 0;
    }
  } catch (const std::bad_alloc&) {
    FailOnLine(LoadResString(IDS_IMAGE_OUT_OF_MEMORY));
    return 0;
  }

  std::uint32_t total = 0;
  for (auto& segment : segments) {
    while (segment->Count > 0 && segment->Data[segment->Count - 1] == 0xFFFF) --segment->Count;
    if (segment->Count % 2 != 0) {
      // The added word is an erased one; a region of odd size grows by it.
      if (segment->Count == segment->Data.size()) segment->Data.push_back(0xFFFF);
      ++segment->Count;
    }
    total += segment->Count;
  }
  return total;
}
