// The segment image file reader on arbitrary bytes. The first byte picks one of the region
// tables the families registered (A, B, servo in name order); every byte a download would send
// is read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <string>
#include <vector>

#include "image/flash_seg.h"
#include "image/image_listing.h"

// Keeps the reads of the sent bytes from being optimised away.
static volatile unsigned g_sink;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const std::vector<std::string> kTables = CImageListingRegistry::Instance().RegionTableNames();
  if (kTables.empty()) std::abort();
  FlashRegionTable table = *CImageListingRegistry::Instance().FindRegionTable(kTables[data[0] % kTables.size()]);
  CImageFile file;
  file.OpenMemory(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), "fuzz.seg");
  CFlashSegArray segments;
  std::uint32_t total = ReadSegmentFile(file, segments, table);
  const CImageLoadError& error = file.LastError();
  // A failure names its offset, but for an image with nothing to send, which is the file's.
  if (error.IsSet() && error.HasOffset() && error.Offset() >= size) std::abort();
  if (error.IsSet() && !error.HasOffset() && CSegmentCutter<std::uint8_t>::HasDataToSend(segments)) std::abort();
  if (segments.size() > kMaxFlashSegments) std::abort();
  std::size_t sent = 0;
  for (const auto& segment : segments) sent += segment->IsSent() ? 1 : 0;
  if (sent > kMaxSentSegments) std::abort();
  std::uint32_t counted = 0;
  unsigned sum = 0;
  for (const auto& segment : segments) {
    if (segment->Size > segment->Data.size() || segment->Size % 2 != 0) std::abort();
    counted += segment->Size;
    for (std::uint32_t i = 0; i < segment->Size; ++i) sum += segment->Data[i];
  }
  if (!error.IsSet() && counted != total) std::abort();
  g_sink = sum;
  return 0;
}
