#include "image/binary_image.h"

#include <algorithm>
#include <new>

#include "image/image_strings.h"
#include "platform/string_table.h"
#include "platform/text_format.h"

namespace {

CImageLoadError NotAFile(const std::string& file) {
  return CImageLoadError::ForFile(file, LoadResString(IDS_IMAGE_NOT_A_FILE));
}

CImageLoadError TooLarge(const std::string& file, std::uint64_t size) {
  return CImageLoadError::ForFile(file, FormatMessage(LoadResString(IDS_IMAGE_TOO_LARGE),
                                                      {std::to_string(size), std::to_string(CBinaryImage::kMaxFileSize)}));
}

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
  // The image is read whole before a byte is sent, so its size must be known, and fit,
  // before the reading starts: a device or a pipe (/dev/zero) would otherwise be read for
  // gigabytes before anything could be said about it.
  std::optional<std::uint64_t> size = file.RegularFileSize();
  if (!size) {
    m_error = NotAFile(file.Name());
    return false;
  }
  if (*size > kMaxFileSize) {
    m_error = TooLarge(file.Name(), *size);
    return false;
  }
  try {
    m_bytes.reserve(static_cast<std::size_t>((*size + kBlockSize - 1) / kBlockSize * kBlockSize));
    for (;;) {
      std::span<const std::uint8_t> chunk = file.Peek();
      if (chunk.empty()) break;
      if (m_fileSize + chunk.size() > kMaxFileSize) {  // the file grew while it was read
        m_error = TooLarge(file.Name(), m_fileSize + chunk.size());
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
    if (m_fileSize == 0) {
      m_error = CImageLoadError::ForFile(file.Name(), LoadResString(IDS_IMAGE_NO_DATA));
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
