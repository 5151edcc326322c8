#include "image/binary_image.h"

#include <algorithm>
#include <new>

#include "image/image_strings.h"
#include "platform/string_table.h"
#include "platform/text_format.h"

namespace {

// A longer file would reach beyond the 32-bit address space.
constexpr std::uint64_t kMaxFileSize = (std::uint64_t{1} << 32) - CBinaryImage::kBaseAddress;

}  // namespace

bool CBinaryImage::Load(const std::string& path) {
  CImageFile file;
  if (!file.Open(path)) {
    m_bytes.clear();
    m_fileSize = 0;
    m_error = file.LastError();
    return false;
  }
  return Load(file);
}

bool CBinaryImage::Load(CImageFile& file) {
  m_bytes.clear();
  m_fileSize = 0;
  m_error = {};
  try {
    for (;;) {
      std::span<const std::uint8_t> chunk = file.Peek();
      if (chunk.empty()) break;
      if (m_fileSize + chunk.size() > kMaxFileSize) {
        m_error = CImageLoadError::AtOffset(
            file.Name(), file.Offset(),
            FormatMessage(LoadResString(IDS_IMAGE_OUTSIDE_REGIONS), {"0x100000000"}));
        return false;
      }
      m_bytes.insert(m_bytes.end(), chunk.begin(), chunk.end());
      m_fileSize += chunk.size();
      file.Consume(chunk.size());
    }
    if (file.ReadFailed()) {
      m_error = CImageLoadError::AtOffset(
          file.Name(), file.Offset(),
          FormatMessage(LoadResString(IDS_IMAGE_READ_ERROR), {file.ReadErrorText()}));
      return false;
    }
    m_bytes.resize((m_bytes.size() + kBlockSize - 1) / kBlockSize * kBlockSize, 0xFF);
  } catch (const std::bad_alloc&) {
    m_error = CImageLoadError::AtOffset(file.Name(), file.Offset(), LoadResString(IDS_IMAGE_OUT_OF_MEMORY));
    return false;
  }
  return true;
}

std::uint32_t CBinaryImage::BlockAddress(std::size_t block) const {
  return static_cast<std::uint32_t>(kBaseAddress + block * kBlockSize);
}

std::size_t CBinaryImage::BlockLength(std::size_t block) const {
  std::uint64_t start = std::uint64_t{block} * kBlockSize;
  return start >= m_fileSize ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, m_fileSize - start));
}

std::span<const std::uint8_t> CBinaryImage::Block(std::size_t block) const {
  return {m_bytes.data() + block * kBlockSize, kBlockSize};
}
