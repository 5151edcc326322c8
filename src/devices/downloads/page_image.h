#pragma once
// The page image of the page-wise programming: an Intel HEX file loaded into 128 KiB of flash
// (0xFF where the file has no data), and the pages a download sends from it. The sender
// (page_download.h) and `inspect --as pages` both go by this plan.
//
// Its loader is stricter than the other HEX downloads', because its bootloader knows only data,
// address and end records:
// - the start address records (types 3 and 5) are refused like an unknown type;
// - every data byte must lie below 0x20000.
// A file that breaks one of these is refused whole, and so is a file without a data byte,
// which would only erase page 0.

#include <cstdint>
#include <span>
#include <vector>

#include "image/image_load_error.h"

class CIntelHexFileReader;

// Resource string ids of the page loader's own refusals (resources/strings/page_programming.inc).
enum PageImageStringId : int {
  IDS_PAGES_NO_DATA = 23501,
};

class CPageImage {
 public:
  static constexpr std::uint32_t kSize = 0x20000;

  // Erased: every byte 0xFF, nothing loaded.
  CPageImage();

  // Loads the HEX file `reader` has open into the image; the refusal when the file does not
  // load completely (the image is then not to be sent).
  CImageLoadError Load(CIntelHexFileReader& reader);

  const std::uint8_t* Data() const { return m_bytes.data(); }
  // The lowest and highest address a data byte was loaded to; kSize and 0 before loading.
  std::uint32_t LowestAddress() const { return m_lowest; }
  std::uint32_t HighestAddress() const { return m_highest; }

  // How many pages of `pageSize` bytes a download sends: from page 0, whatever the lowest
  // address, up to the page that holds the highest address. kSize is a multiple of every page
  // size the devices report, so the last page lies inside the image.
  std::uint32_t PageCount(std::uint32_t pageSize) const { return m_highest / pageSize + 1; }
  // Page `number`'s bytes.
  std::span<const std::uint8_t> Page(std::uint32_t number, std::uint32_t pageSize) const {
    return {m_bytes.data() + number * pageSize, pageSize};
  }

 private:
  std::vector<std::uint8_t> m_bytes;
  std::uint32_t m_lowest = kSize;
  std::uint32_t m_highest = 0;
};

// The checksum sent after a page: the sum of its bytes modulo 256.
std::uint8_t PageChecksum(std::span<const std::uint8_t> page);
