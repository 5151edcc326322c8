// The byte-addressed Intel HEX reader on arbitrary text, loaded into a flat image as the block
// downloads do; the sanitizers watch every write into the image and the buffers. The image is
// 64 KiB rather than the downloads' 1 MiB: the reading does not depend on the size, the image
// end is in reach of records without an extended address, and a 1 MiB buffer per input would
// cost a fresh mapping each time and slow the search down a hundredfold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "image/hex_file_reader.h"

// Keeps the last record's fields from being optimised away.
static volatile unsigned g_sink;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CIntelHexFileReader reader;
  reader.OpenMemory(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.hex");
  constexpr std::size_t kFuzzImageSize = 0x10000;
  if (!reader.AllocImage(kFuzzImageSize)) return 0;
  bool loaded = reader.ReadImage();
  if (loaded == reader.Failed()) std::abort();  // the result and the failure state agree
  if (reader.Failed() && reader.LastError().Line() < 1) std::abort();
  if (reader.Image().size() != kFuzzImageSize) std::abort();
  g_sink = reader.RecordLength() + reader.RecordAddress();
  return 0;
}
