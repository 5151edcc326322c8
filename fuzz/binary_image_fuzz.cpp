// The raw binary image on arbitrary bytes: an empty file is refused with a reason; any other
// is cut into 4 KiB blocks at consecutive addresses from the base without wrapping, the block
// lengths add up to the file size, each block holds the file's bytes at its offset and the
// last block's rest is erased flash (FF).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "image/binary_image.h"
#include "image/image_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CImageFile file;
  file.OpenMemory(std::string_view(reinterpret_cast<const char*>(data), size), "image.bin");
  CBinaryImage image;
  const bool loaded = image.Load(file);
  if (size == 0) {
    if (loaded || !image.LastError().IsSet() || image.LastError().Message().empty()) std::abort();
    if (image.BlockCount() != 0) std::abort();
    return 0;
  }
  if (!loaded || image.LastError().IsSet() || image.FileSize() != size) std::abort();
  constexpr std::size_t kBlock = CBinaryImage::kBlockSize;
  if (image.BlockCount() != (size + kBlock - 1) / kBlock) std::abort();
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < image.BlockCount(); ++i) {
    const std::uint64_t address = std::uint64_t{CBinaryImage::kBaseAddress} + std::uint64_t{i} * kBlock;
    if (address > 0xFFFFFFFFu - (kBlock - 1) || image.BlockAddress(i) != address) std::abort();
    const std::size_t length = image.BlockLength(i);
    if (length == 0 || length > kBlock || (i + 1 < image.BlockCount() && length != kBlock)) std::abort();
    const auto block = image.Block(i);
    if (block.size() != kBlock) std::abort();
    if (!std::equal(block.begin(), block.begin() + static_cast<long>(length), data + i * kBlock)) std::abort();
    if (std::any_of(block.begin() + static_cast<long>(length), block.end(), [](std::uint8_t b) { return b != 0xFF; })) {
      std::abort();
    }
    total += length;
  }
  if (total != size || image.BlockLength(image.BlockCount()) != 0) std::abort();
  return 0;
}
