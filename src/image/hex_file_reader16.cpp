#include "image/hex_file_reader16.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "image/image_strings.h"
#include "platform/string_table.h"
#include "platform/text_format.h"

namespace {

std::string WordAddressText(std::uint64_t address) {
  return FormatText("0x%06llX", static_cast<unsigned long long>(address));
}

}  // namespace

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

bool CIntelHexFileReader16::LoadRecord(CSegmentCutter<std::uint16_t>& cutter, FlashRegionTable table) {
  // Checked here too for an empty record, which the cutter places only when it is the first.
  if (!FindFlashRegion(table, m_recordAddress)) {
    return FailOnLine(FormatMessage(LoadResString(IDS_IMAGE_OUTSIDE_REGIONS), {WordAddressText(m_recordAddress)}));
  }
  std::optional<CSegmentCutFailure> failure = cutter.Add(m_recordAddress, m_words, m_recordLength);
  if (!failure) return true;
  if (failure->Limit) {
    return FailOnLine(FormatMessage(LoadResString(IDS_IMAGE_TOO_MANY_SEGMENTS), {std::to_string(*failure->Limit)}));
  }
  return FailOnLine(FormatMessage(LoadResString(IDS_IMAGE_OUTSIDE_REGIONS), {WordAddressText(failure->Address)}));
}

std::uint32_t CIntelHexFileReader16::LoadSegments(CFlashSeg16Array& segments, FlashRegionTable table) {
  if (table.empty()) return 0;
  CSegmentCutter<std::uint16_t> cutter(segments, table, kMaxSentWordSegments);
  try {
    while (ReadRecord()) {
      if (!LoadRecord(cutter, table)) return 0;
    }
  } catch (const std::bad_alloc&) {
    FailOnLine(LoadResString(IDS_IMAGE_OUT_OF_MEMORY));
    return 0;
  }
  std::uint32_t total = CSegmentCutter<std::uint16_t>::Trim(segments);
  // An image with nothing to send would be "programmed" without a word reaching the device.
  if (!Failed() && !CSegmentCutter<std::uint16_t>::HasDataToSend(segments)) {
    FailForFile(LoadResString(IDS_IMAGE_NO_DATA));
    return 0;
  }
  return total;
}
