#pragma once
// A raw binary firmware file, cut into the 4 KiB blocks of the binary download: block i goes
// to kBaseAddress + i * 4096, and the last, shorter block is padded with 0xFF (erased flash).
// The whole file is read before anything is sent, so a read error refuses the image before
// the device is touched:
//
//   CBinaryImage image;
//   if (!image.Load(path)) { ShowImageRefusal(image.LastError()); return false; }
//   for (std::size_t i = 0; i < image.BlockCount(); ++i) send image.Block(i) to image.BlockAddress(i)

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "image/image_load_error.h"

class CBinaryImage {
 public:
  static constexpr std::uint32_t kBaseAddress = 0x0800C000;
  static constexpr std::size_t kBlockSize = 4096;
  // The largest file taken. Far above any firmware of the devices that take a binary image,
  // and it keeps a wrong file from an endless download: 100 MB would take minutes to send.
  static constexpr std::uint64_t kMaxFileSize = 16 * 1024 * 1024;

  // Reads the file at `path`; nothing is shown. False when it cannot be opened or read, is
  // empty or is larger than kMaxFileSize (LastError() says why).
  bool Load(const std::string& path);
  // Reads an opened file to its end.
  bool Load(CImageFile& file);

  const CImageLoadError& LastError() const { return m_error; }

  std::uint64_t FileSize() const { return m_fileSize; }
  std::size_t BlockCount() const { return m_bytes.size() / kBlockSize; }
  std::uint32_t BlockAddress(std::size_t block) const;
  // The bytes of the block taken from the file (4096 but for the last block).
  std::size_t BlockLength(std::size_t block) const;
  // The 4096 bytes sent for the block.
  std::span<const std::uint8_t> Block(std::size_t block) const;

 private:
  std::vector<std::uint8_t> m_bytes;  // whole blocks, padded with 0xFF
  std::uint64_t m_fileSize = 0;
  CImageLoadError m_error;
};
