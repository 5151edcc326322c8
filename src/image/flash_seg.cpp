#include "image/flash_seg.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

#include "image/image_strings.h"
#include "platform/string_table.h"
#include "platform/text_format.h"

namespace {

std::uint32_t LittleEndian32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Reads one segment file and keeps the current segment; every failure ends the reading and
// leaves its reason in the file.
class CSegmentFileLoader {
 public:
  CSegmentFileLoader(CImageFile& file, CFlashSegArray& segments, FlashRegionTable table)
      : m_file(file), m_segments(segments), m_table(table) {}

  // Reads every record; false on a failure.
  bool ReadRecords();

 private:
  // Reads `count` bytes of the record that began at m_recordOffset, of which `before` bytes
  // are read already; false (and the failure set) when the file ends or fails first.
  bool ReadField(std::uint8_t* dest, std::uint32_t count, std::uint32_t before, std::uint32_t needed);
  bool AddRecord(std::uint32_t address, const std::uint8_t* data, std::uint32_t length);
  CFlashSeg* AddSegment(std::uint32_t address);
  bool Fail(std::uint64_t offset, std::string reason);

  CImageFile& m_file;
  CFlashSegArray& m_segments;
  FlashRegionTable m_table;
  CFlashSeg* m_current = nullptr;
  std::uint64_t m_recordOffset = 0;
  std::uint8_t m_data[kSegmentRecordMax] = {};
};

bool CSegmentFileLoader::Fail(std::uint64_t offset, std::string reason) {
  m_file.SetLastError(CImageLoadError::AtOffset(m_file.Name(), offset, std::move(reason)));
  return false;
}

bool CSegmentFileLoader::ReadField(std::uint8_t* dest, std::uint32_t count, std::uint32_t before,
                                   std::uint32_t needed) {
  std::size_t got = m_file.Read(dest, count);
  if (m_file.ReadFailed()) {
    return Fail(m_file.Offset(),
                FormatMessage(LoadResString(IDS_IMAGE_READ_ERROR), {m_file.ReadErrorText()}));
  }
  if (got == count) return true;
  return Fail(m_recordOffset, FormatMessage(LoadResString(IDS_IMAGE_RECORD_CUT_SHORT),
                                            {std::to_string(needed), std::to_string(before + got)}));
}

CFlashSeg* CSegmentFileLoader::AddSegment(std::uint32_t address) {
  if (!FindFlashRegion(m_table, address)) {
    Fail(m_recordOffset, FormatMessage(LoadResString(IDS_IMAGE_OUTSIDE_REGIONS),
                                       {FormatText("0x%05X", address)}));
    return nullptr;
  }
  if (m_segments.size() >= kMaxFlashSegments) {
    Fail(m_recordOffset, FormatMessage(LoadResString(IDS_IMAGE_TOO_MANY_SEGMENTS),
                                       {std::to_string(kMaxFlashSegments)}));
    return nullptr;
  }
  m_segments.push_back(std::make_unique<CFlashSeg>(address, m_table));
  return m_segments.back().get();
}

bool CSegmentFileLoader::AddRecord(std::uint32_t address, const std::uint8_t* data, std::uint32_t length) {
  if (m_current == nullptr && (m_current = AddSegment(address)) == nullptr) return false;

  // The part of the record in the current segment goes there; the rest starts a new segment,
  // also when a segment for its region was made before. A rest that runs past the end of its
  // new segment goes on into a further one rather than being lost.
  std::uint64_t at = address;
  std::uint32_t done = 0;
  while (done < length) {
    if (at > UINT32_MAX) {
      return Fail(m_recordOffset, FormatMessage(LoadResString(IDS_IMAGE_OUTSIDE_REGIONS),
                                                {FormatText("0x%llX", static_cast<unsigned long long>(at))}));
    }
    auto address32 = static_cast<std::uint32_t>(at);
    if (address32 < m_current->Start || address32 > m_current->End) {
      if ((m_current = AddSegment(address32)) == nullptr) return false;
    }
    std::uint32_t fit = std::min<std::uint32_t>(length - done, m_current->End - address32 + 1);
    std::memcpy(m_current->Data.data() + (address32 - m_current->Start), data + done, fit);
    done += fit;
    at += fit;
  }
  return true;
}

bool CSegmentFileLoader::ReadRecords() {
  for (;;) {
    m_recordOffset = m_file.Offset();
    std::uint8_t header[8];
    // The end of the file before a record's first byte is the end of the data.
    std::span<const std::uint8_t> next = m_file.Peek();
    if (next.empty()) {
      if (!m_file.ReadFailed()) return true;
      return Fail(m_file.Offset(),
                  FormatMessage(LoadResString(IDS_IMAGE_READ_ERROR), {m_file.ReadErrorText()}));
    }
    if (!ReadField(header, 8, 0, 8)) return false;
    std::uint32_t address = LittleEndian32(header);
    std::uint32_t length = LittleEndian32(header + 4);
    if (length > kSegmentRecordMax) {
      return Fail(m_recordOffset, FormatMessage(LoadResString(IDS_IMAGE_RECORD_TOO_LONG),
                                                {std::to_string(length), std::to_string(kSegmentRecordMax)}));
    }
    if (!ReadField(m_data, length, 8, 8 + length)) return false;
    if (!AddRecord(address, m_data, length)) return false;
  }
}

}  // namespace

CFlashSeg::CFlashSeg(std::uint32_t address, FlashRegionTable table) {
  std::optional<std::size_t> region = FindFlashRegion(table, address);
  if (!region) throw std::out_of_range("address outside the region table");
  Start = table[*region].Start;
  End = table[*region + 1].Start - 1;
  Size = End - Start + 1;
  Kind = table[*region].Kind;
  Data.assign(Size, 0xFF);
}

std::uint32_t ReadSegmentFile(CImageFile& file, CFlashSegArray& segments, FlashRegionTable table) {
  if (!file.IsOpen()) {
    if (!file.LastError().IsSet()) {
      file.SetLastError(CImageLoadError::ForFile(
          file.Name(), FormatMessage(LoadResString(IDS_IMAGE_CANNOT_OPEN), {std::strerror(EBADF)})));
    }
    return 0;
  }
  file.SetLastError({});
  CSegmentFileLoader loader(file, segments, table);
  try {
    if (!loader.ReadRecords()) return 0;
  } catch (const std::bad_alloc&) {
    file.SetLastError(CImageLoadError::AtOffset(file.Name(), file.Offset(),
                                                LoadResString(IDS_IMAGE_OUT_OF_MEMORY)));
    return 0;
  }

  std::uint32_t total = 0;
  for (auto& segment : segments) {
    while (segment->Size > 0 && segment->Data[segment->Size - 1] == 0xFF) --segment->Size;
    if (segment->Size % 2 != 0) {
      // The added byte is an erased one; a region of odd size grows by it.
      if (segment->Size == segment->Data.size()) segment->Data.push_back(0xFF);
      ++segment->Size;
    }
    total += segment->Size;
  }
  return total;
}
