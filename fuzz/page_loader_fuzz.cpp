// The page-wise programming's HEX loader on arbitrary text, into its 128 KiB page image; the
// sanitizers watch every write into the image and the reader's buffers. A loaded image must
// have its data inside the image and pages that stay inside it at every page size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "devices/downloads/page_image.h"
#include "image/hex_file_reader.h"

// Keeps the checksum from being optimised away.
static volatile unsigned g_sink;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CIntelHexFileReader reader;
  reader.OpenMemory(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.hex");
  CPageImage image;
  CImageLoadError error = image.Load(reader);
  if (error.IsSet()) {
    if (error.Message().empty()) std::abort();
    return 0;
  }
  if (image.LowestAddress() > image.HighestAddress() || image.HighestAddress() >= CPageImage::kSize) std::abort();
  for (std::uint32_t pageSize = 32; pageSize <= 32768; pageSize *= 2) {
    std::uint32_t last = image.PageCount(pageSize) - 1;
    if ((last + 1) * pageSize > CPageImage::kSize) std::abort();
    g_sink = PageChecksum(image.Page(last, pageSize));
  }
  return 0;
}
