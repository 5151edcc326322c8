// The word-addressed Intel HEX reader on arbitrary text, with the C28xx region table; every
// word a download would send is read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "devices/c28xx/flash_regions_c28xx.h"
#include "image/hex_file_reader16.h"

// Keeps the reads of the sent bytes from being optimised away.
static volatile unsigned g_sink;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CIntelHexFileReader16 reader;
  reader.OpenMemory(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz16.hex");
  CFlashSeg16Array segments;
  std::uint32_t total = reader.LoadSegments(segments, kFlashRegionsC28xx);
  // A failure names its line, but for an image with nothing to send, which is the file's.
  if (reader.Failed() && reader.LastError().Line() < 1 && CSegmentCutter<std::uint16_t>::HasDataToSend(segments)) {
    std::abort();
  }
  if (segments.size() > MaxFlashSegments(kMaxSentWordSegments)) std::abort();
  std::uint32_t counted = 0;
  unsigned sum = 0;
  for (const auto& segment : segments) {
    if (segment->Size > segment->Data.size() || segment->Size % 2 != 0) std::abort();
    if (segment->Start > segment->End) std::abort();
    counted += segment->Size;
    for (std::uint32_t i = 0; i < segment->Size; ++i) sum += segment->Data[i];
  }
  if (!reader.Failed() && counted != total) std::abort();
  g_sink = sum;
  return 0;
}
