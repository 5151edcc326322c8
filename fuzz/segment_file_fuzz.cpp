// The segment image file reader on arbitrary bytes. The first byte picks the region table;
// every byte a download would send is read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "devices/2a/flash_regions_2a.h"
#include "devices/downloads/region_table_a.h"
#include "devices/servo/flash_regions_servo.h"
#include "image/flash_seg.h"

// Keeps the reads of the sent bytes from being optimised away.
static volatile unsigned g_sink;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const FlashRegionTable kTables[] = {kFlashRegionsA, kFlashRegionsB, kFlashRegionsServo};
  FlashRegionTable table = kTables[data[0] % 3];
  CImageFile file;
  file.OpenMemory(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), "fuzz.seg");
  CFlashSegArray segments;
  std::uint32_t total = ReadSegmentFile(file, segments, table);
  const CImageLoadError& error = file.LastError();
  if (error.IsSet() && (!error.HasOffset() || error.Offset() >= size)) std::abort();
  if (segments.size() > kMaxFlashSegments) std::abort();
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
