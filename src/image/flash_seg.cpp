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
      : m_file(file), m_cutter(segments, table) {}

  // Reads every record; false on a failure.
  bool ReadRecords();

 private:
  // Reads `count` bytes of the record that began at m_recordOffset, of which `before` bytes
  // are read already; false (and the failure set) when the file ends or fails first.
  bool ReadField(std::uint8_t* dest, std::uint32_t count, std::uint32_t before, std::uint32_t needed);
  bool AddRecord(std::uint32_t address, const std::uint8_t* data, std::uint32_t length);
  bool Fail(std::uint64_t offset, std::string reason);

  CImageFile& m_file;
  CSegmentCutter<std::uint8_t> m_cutter;
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

bool CSegmentFileLoader::AddRecord(std::uint32_t address, const std::uint8_t* data, std::uint32_t length) {
  std::optional<CSegmentCutFailure> failure = m_cutter.Add(address, data, length);
  if (!failure) return true;
  if (failure->Limit) {
    return Fail(m_recordOffset, FormatMessage(LoadResString(IDS_IMAGE_TOO_MANY_SEGMENTS),
                                              {std::to_string(*failure->Limit)}));
  }
  const char* format = failure->Address > UINT32_MAX ? "0x%llX" : "0x%05llX";
  return Fail(m_recordOffset, FormatMessage(LoadResString(IDS_IMAGE_OUTSIDE_REGIONS),
                                            {FormatText(format, static_cast<unsigned long long>(failure->Address))}));
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

  std::uint32_t total = CSegmentCutter<std::uint8_t>::Trim(segments);
  // An image with nothing to send would be "programmed" without a byte reaching the device.
  if (!CSegmentCutter<std::uint8_t>::HasDataToSend(segments)) {
    file.SetLastError(CImageLoadError::ForFile(file.Name(), LoadResString(IDS_IMAGE_NO_DATA)));
    return 0;
  }
  return total;
}
