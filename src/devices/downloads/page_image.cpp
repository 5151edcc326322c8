#include "devices/downloads/page_image.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>

#include "image/hex_file_reader.h"
#include "image/image_listing.h"
#include "image/image_strings.h"
#include "platform/string_table.h"
#include "platform/text_format.h"

namespace {

// `inspect` has no device to ask for its page size; it lists the pages of the size the ATMU
// device reports (code 0x53).
constexpr std::uint32_t kListingPageSize = 128;

CImageLoadError ListPageImage(const std::string& path, FlashRegionTable /*table*/, IImageListingSink& sink) {
  CIntelHexFileReader reader;
  if (!reader.Open(path)) return reader.LastError();
  CPageImage image;
  if (CImageLoadError error = image.Load(reader); error.IsSet()) return error;
  const std::uint32_t count = image.PageCount(kListingPageSize);
  for (std::uint32_t number = 0; number < count; ++number) {
    std::span<const std::uint8_t> page = image.Page(number, kListingPageSize);
    sink.Unit(FormatText("page %u at 0x%05X checksum 0x%02X", number, number * kListingPageSize,
                         PageChecksum(page)),
              page);
  }
  sink.Summary(FormatText("data 0x%05X-0x%05X, %u pages of %u bytes, then FF FF (restart)",
                          image.LowestAddress(), image.HighestAddress(), count, kListingPageSize));
  return {};
}

const RegisterImageKind g_pages("pages", ListPageImage);

}  // namespace

CPageImage::CPageImage() : m_bytes(kSize, 0xFF) {}

CImageLoadError CPageImage::Load(CIntelHexFileReader& reader) {
  reader.RefuseStartAddressRecords();
  while (reader.ReadRecord()) {
    const std::uint32_t length = reader.RecordLength();
    if (length == 0) continue;
    const std::uint32_t address = reader.RecordAddress();
    if (std::uint64_t{address} + length > kSize) {
      return CImageLoadError::AtLine(
          reader.FileName(), reader.LineCount(),
          FormatMessage(LoadResString(IDS_IMAGE_OUTSIDE_IMAGE),
                        {FormatText("0x%X", address), std::to_string(length), FormatText("0x%X", kSize)}));
    }
    std::memcpy(m_bytes.data() + address, reader.Data(), length);
    m_lowest = std::min(m_lowest, address);
    m_highest = std::max(m_highest, address + length - 1);
  }
  if (reader.Failed()) return reader.LastError();
  if (m_lowest > m_highest) return CImageLoadError::ForFile(reader.FileName(), LoadResString(IDS_PAGES_NO_DATA));
  return {};
}

std::uint8_t PageChecksum(std::span<const std::uint8_t> page) {
  return std::accumulate(page.begin(), page.end(), std::uint8_t{0},
                         [](std::uint8_t sum, std::uint8_t byte) { return static_cast<std::uint8_t>(sum + byte); });
}
