#include "image/image_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "image/image_strings.h"
#include "platform/shown_failure.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"

CImageFile::CImageFile() = default;

CImageFile::~CImageFile() { Close(); }

bool CImageFile::Open(const std::string& path) {
  Close();
  m_name = path;
  m_error = {};
  if (!m_input.Open(path)) {
    m_error = CImageLoadError::ForFile(path, OpenFailureReason());
    return false;
  }
  if (!m_buffer) m_buffer = std::make_unique<std::uint8_t[]>(kBufferSize);
  m_open = true;
  return true;
}

bool CImageFile::OpenFile(const std::string& path) {
  if (Open(path)) return true;
  std::string text;
  int messageId = 0;
  switch (m_input.Failure()) {
    case CInputFile::EFailure::NotFound:
      text = m_input.Message();
      messageId = m_input.MessageId();
      break;
    case CInputFile::EFailure::NotAFile: text = path + "\n" + OpenFailureReason(); break;
    default:
      text = FormatMessage(LoadResString(IDS_IMAGE_OPEN_FAILED_BOX), {path, std::strerror(m_input.ErrorNumber())});
      messageId = IDS_IMAGE_OPEN_FAILED_BOX;
  }
  NoteShownFailure({messageId, text});
  UserInterface().MessageBox(text, MB_OK | MB_ICONERROR);
  return false;
}

std::string CImageFile::OpenFailureReason() const {
  // An image is read only from a file whose size is known before the reading starts.
  if (m_input.Failure() == CInputFile::EFailure::NotAFile) return LoadResString(IDS_IMAGE_NOT_A_FILE);
  return FormatMessage(LoadResString(IDS_IMAGE_CANNOT_OPEN), {std::strerror(m_input.ErrorNumber())});
}

void CImageFile::OpenMemory(std::string_view bytes, std::string name) {
  Close();
  m_name = std::move(name);
  m_error = {};
  m_begin = reinterpret_cast<const std::uint8_t*>(bytes.data());
  m_end = m_begin + bytes.size();
  m_open = true;
}

void CImageFile::Close() {
  m_input.Close();
  m_open = false;
  m_begin = m_end = nullptr;
  m_offset = 0;
  m_readError.clear();
}

bool CImageFile::Refill() {
  if (!m_input.IsOpen() || ReadFailed()) return false;
  std::size_t got = m_input.ReadSome(m_buffer.get(), kBufferSize);
  if (got > 0) {
    m_begin = m_buffer.get();
    m_end = m_begin + got;
    return true;
  }
  if (m_input.Failure() != CInputFile::EFailure::None) m_readError = std::strerror(m_input.ErrorNumber());
  return false;
}

std::optional<std::uint64_t> CImageFile::RegularFileSize() const {
  if (!m_open) return std::nullopt;
  if (!m_input.IsOpen()) return m_offset + static_cast<std::uint64_t>(m_end - m_begin);  // in memory
  return m_input.Size();
}

std::span<const std::uint8_t> CImageFile::Peek() {
  if (m_begin == m_end && !Refill()) return {};
  return {m_begin, static_cast<std::size_t>(m_end - m_begin)};
}

void CImageFile::Consume(std::size_t count) {
  m_begin += count;
  m_offset += count;
}

std::size_t CImageFile::Read(void* dest, std::size_t count) {
  auto* out = static_cast<std::uint8_t*>(dest);
  std::size_t done = 0;
  while (done < count) {
    std::span<const std::uint8_t> chunk = Peek();
    if (chunk.empty()) break;
    std::size_t take = std::min(chunk.size(), count - done);
    std::memcpy(out + done, chunk.data(), take);
    Consume(take);
    done += take;
  }
  return done;
}
