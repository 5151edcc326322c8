#include "image/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "image/image_strings.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"

CImageFile::CImageFile() = default;

CImageFile::~CImageFile() { Close(); }

bool CImageFile::Open(const std::string& path) {
  Close();
  m_name = path;
  m_error = {};
  m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (m_fd < 0) {
    m_openErrno = errno;
    m_error = CImageLoadError::ForFile(
        path, FormatMessage(LoadResString(IDS_IMAGE_CANNOT_OPEN), {std::strerror(errno)}));
    return false;
  }
  if (!m_buffer) m_buffer = std::make_unique<std::uint8_t[]>(kBufferSize);
  m_open = true;
  return true;
}

bool CImageFile::OpenFile(const std::string& path) {
  if (Open(path)) return true;
  ShowFileOpenError(path, m_openErrno);
  return false;
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
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_open = false;
  m_begin = m_end = nullptr;
  m_offset = 0;
  m_readError.clear();
}

bool CImageFile::Refill() {
  if (m_fd < 0 || ReadFailed()) return false;
  for (;;) {
    ssize_t got = ::read(m_fd, m_buffer.get(), kBufferSize);
    if (got > 0) {
      m_begin = m_buffer.get();
      m_end = m_begin + got;
      return true;
    }
    if (got == 0) return false;
    if (errno == EINTR) continue;
    m_readError = std::strerror(errno);
    return false;
  }
}

std::optional<std::uint64_t> CImageFile::RegularFileSize() const {
  if (!m_open) return std::nullopt;
  if (m_fd < 0) return m_offset + static_cast<std::uint64_t>(m_end - m_begin);  // in memory
  struct stat status {};
  if (::fstat(m_fd, &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(status.st_size);
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

void ShowFileOpenError(const std::string& path, int error) {
  std::string text = error == ENOENT
                         ? FormatMessage(LoadResString(IDS_FILE_NOT_FOUND), {path})
                         : FormatMessage(LoadResString(IDS_IMAGE_OPEN_FAILED_BOX),
                                         {path, std::strerror(error)});
  UserInterface().MessageBox(text, MB_OK | MB_ICONERROR);
}
