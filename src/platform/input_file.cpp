#include "platform/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/string_table.h"
#include "platform/text_format.h"

namespace {

constexpr int kFileNotFoundMessage = 61729;  // %1 = path

}  // namespace

CInputFile::~CInputFile() { Close(); }

bool CInputFile::Open(const std::string& path) {
  Close();
  m_path = path;
  m_failure = EFailure::None;
  m_errno = 0;
  m_size = 0;
  // Non-blocking, so that a named pipe with no writer does not hold the open; O_NOCTTY, so
  // that a terminal named by mistake is not made the program's own.
  m_fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (m_fd < 0) return Fail(errno == ENOENT || errno == ENOTDIR ? EFailure::NotFound : EFailure::CannotRead, errno);
  struct stat status {};
  if (::fstat(m_fd, &status) != 0) return Fail(EFailure::CannotRead, errno);
  if (!S_ISREG(status.st_mode)) return Fail(EFailure::NotAFile, 0);
  m_size = static_cast<std::uint64_t>(status.st_size);
  // A regular file ignores the flag; it is cleared so that the reads are plain reads.
  int flags = ::fcntl(m_fd, F_GETFL);
  if (flags >= 0) ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK);
  return true;
}

void CInputFile::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

std::string CInputFile::Check(const std::string& path, std::uint64_t limit) {
  CInputFile file;
  if (!file.Open(path)) return file.Failure() == EFailure::NotFound ? std::string() : file.Message();
  if (file.Size() <= limit) return {};
  file.m_limit = limit;
  file.Fail(EFailure::TooLarge, 0);
  return file.Message();
}

bool CInputFile::Fail(EFailure failure, int error) {
  Close();
  m_failure = failure;
  m_errno = error;
  return false;
}

std::size_t CInputFile::ReadSome(void* dest, std::size_t count) {
  if (m_fd < 0) return 0;
  for (;;) {
    ssize_t got = ::read(m_fd, dest, count);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno == EINTR) continue;
    Fail(EFailure::CannotRead, errno);
    return 0;
  }
}

bool CInputFile::ReadAll(std::string& bytes, std::uint64_t limit) {
  bytes.clear();
  m_limit = limit;
  if (m_fd < 0) return false;
  // The size is only a hint (the file may grow while it is read); the bound holds either way.
  if (m_size > limit) return Fail(EFailure::TooLarge, 0);
  bytes.reserve(static_cast<std::size_t>(m_size));
  char chunk[64 * 1024];
  for (;;) {
    std::size_t got = ReadSome(chunk, sizeof chunk);
    if (got == 0) break;
    if (bytes.size() + got > limit) {
      bytes.clear();
      return Fail(EFailure::TooLarge, 0);
    }
    bytes.append(chunk, got);
  }
  if (m_failure != EFailure::None) {
    bytes.clear();
    return false;
  }
  return true;
}

std::string CInputFile::ReasonFor(EFailure failure, int error, std::uint64_t limit) {
  switch (failure) {
    case EFailure::None: return {};
    case EFailure::NotAFile: return LoadResString(IDS_INPUT_NOT_A_FILE);
    case EFailure::TooLarge: return FormatMessage(LoadResString(IDS_INPUT_TOO_LARGE), {std::to_string(limit)});
    case EFailure::NotFound:
    case EFailure::CannotRead: break;
  }
  return FormatMessage(LoadResString(IDS_INPUT_CANNOT_READ), {std::strerror(error)});
}

int CInputFile::MessageId() const { return m_failure == EFailure::NotFound ? kFileNotFoundMessage : 0; }

std::string CInputFile::Message() const {
  if (m_failure == EFailure::NotFound) return FormatMessage(LoadResString(kFileNotFoundMessage), {m_path});
  return m_path + "\n" + Reason();
}
