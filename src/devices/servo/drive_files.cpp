// The drive's file system through request messages: open, close, size, free space, segment
// size, reading and writing at an offset, and the two whole-file transfers built on them.
// Paths on the drive keep the drive's backslash; paths on the PC use "/".

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "devices/servo/drive.h"
#include "platform/ascii_text.h"
#include "platform/input_file.h"
#include "platform/text_format.h"
#include "platform/user_folders.h"
#include "updater/flash_progress.h"
#include "wizard/message_pump.h"

namespace {

// Files the drive knows by number; compared without regard to case.
constexpr const char* kWellKnownFiles[] = {"FILE01.DAT", "FILE02.DAT", "FILE03.DAT"};

// The drive's number for a well-known file; 0 for any other name.
std::uint8_t WellKnownFileNumber(const std::string& path) {
  for (std::size_t i = 0; i < std::size(kWellKnownFiles); ++i) {
    if (EqualsIgnoringAsciiCase(path, kWellKnownFiles[i])) return static_cast<std::uint8_t>(i + 1);
  }
  return 0;
}

// The segment size a request asks the drive for.
constexpr std::uint32_t kSegmentSizeQuery = 3;
// The open mode: its first three bytes travel in parameter 2.
constexpr char kWriteMode[] = "wb+";
constexpr char kReadMode[] = "rb";

// Answer fields.
constexpr std::size_t kHandleOffset = gci::kParameter3Offset;
constexpr std::size_t kFileSizeOffset = gci::kParameter2Offset;
constexpr std::size_t kSegmentSizeOffset = gci::kParameter3Offset;
constexpr std::size_t kFreeSpaceOffset = gci::kParameter4Offset;
constexpr std::size_t kDataLengthOffset = gci::kParameter3Offset;

// The name as a zero-ended payload.
std::vector<std::uint8_t> NamePayload(const std::string& name) {
  std::vector<std::uint8_t> payload(name.begin(), name.end());
  payload.push_back(0);
  return payload;
}

// The whole file; nothing when it cannot be read, is no regular file (a pipe would hold the
// download) or is larger than an offset can name.
std::optional<std::vector<std::uint8_t>> ReadLocalFile(const std::string& path) {
  CInputFile file;
  std::string bytes;
  if (!file.Open(path) || !file.ReadAll(bytes, UINT32_MAX)) return std::nullopt;
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace

std::optional<CGciPacket> CDrive::NamedFileRequest(gci::EGciType type, const std::string& path) {
  const std::uint8_t number = WellKnownFileNumber(path);
  if (number != 0) {
    std::optional<CGciPacket> request = NewRequest(type, 0);
    if (request) request->SetByte(gci::kParameter1Offset, number);
    return request;
  }
  const std::vector<std::uint8_t> name = NamePayload(path);
  std::optional<CGciPacket> request = NewRequest(type, name.size());
  if (!request) return std::nullopt;
  request->SetByte(gci::kParameter1Offset, gci::kNamedFile);
  request->SetPayload(name);
  return request;
}

std::optional<CGciPacket> CDrive::FileExchange(const std::optional<CGciPacket>& request, const char* failure,
                                               std::size_t answerBuffer) {
  std::optional<CGciPacket> answer = request ? Transact(*request, answerBuffer) : std::nullopt;
  if (!answer) LogDownloadFailure(failure);
  return answer;
}

bool CDrive::FileQuery(const std::optional<CGciPacket>& request, const char* failure, std::size_t resultOffset,
                       std::uint32_t& result) {
  std::optional<CGciPacket> answer = FileExchange(request, failure);
  if (!answer) return false;
  if (ParseAnswer(*answer)) result = answer->Number(resultOffset);
  return true;
}

bool CDrive::OpenTransferFile(const std::string& path, bool forWrite, std::uint32_t& handle) {
  std::optional<CGciPacket> request = NamedFileRequest(gci::kOpenFile, path);
  if (!request) {
    LogDownloadFailure(FormatText("Opening file '%s' failed.", path.c_str()));
    return false;
  }
  const char* mode = forWrite ? kWriteMode : kReadMode;
  for (std::size_t i = 0; i < 3; ++i) request->SetByte(gci::kParameter2Offset + i, static_cast<std::uint8_t>(mode[i]));
  return FileQuery(request, "OpenTransferFile failed.", kHandleOffset, handle);
}

bool CDrive::CloseTransferFile(std::uint32_t handle) {
  std::optional<CGciPacket> request = NewRequest(gci::kCloseFile, 0);
  if (request) request->SetNumber(gci::kParameter1Offset, handle);
  // A file the drive could not close may not hold what was written.
  return Accepted(FileExchange(request, "Close file failed."), "Close file failed.");
}

bool CDrive::Accepted(const std::optional<CGciPacket>& answer, const char* failure) {
  if (!answer) return false;
  if (ParseAnswer(*answer)) return true;
  LogDownloadFailure(FormatText("%s The drive answered with status %u.", failure, answer->Status()));
  return false;
}

bool CDrive::GetFileSize(const std::string& path, std::uint32_t& size) {
  return FileQuery(NamedFileRequest(gci::kGetFileSize, path), "GetFileSize failed.", kFileSizeOffset, size);
}

bool CDrive::GetSegmentSize(std::uint32_t& size) {
  std::optional<CGciPacket> request = NewRequest(gci::kGetSegmentSize, 0);
  if (request) request->SetNumber(gci::kParameter1Offset, kSegmentSizeQuery);
  return FileQuery(request, "GetSegmentSize failed.", kSegmentSizeOffset, size);
}

bool CDrive::GetSizeDir(const std::string& path, std::uint32_t& freeBytes) {
  const std::vector<std::uint8_t> name = NamePayload(path);
  std::optional<CGciPacket> request = NewRequest(gci::kGetSizeDir, name.size());
  if (request) request->SetPayload(name);
  return FileQuery(request, "GetSizeDir failed.", kFreeSpaceOffset, freeBytes);
}

bool CDrive::ConvFileRead(std::uint32_t handle, std::span<std::uint8_t> destination, std::uint32_t offset) {
  PumpPendingMessages();
  const std::size_t buffer = destination.size() + gci::kHeaderSize;
  std::optional<CGciPacket> request = NewRequest(gci::kReadFile, 0, buffer);
  if (request) {
    request->SetNumber(gci::kParameter1Offset, handle);
    request->SetNumber(gci::kParameter2Offset, offset);
    request->SetNumber(gci::kParameter3Offset, static_cast<std::uint32_t>(destination.size()));
  }
  std::optional<CGciPacket> answer = FileExchange(request, "ConvFileRead failed.", buffer);
  if (!answer) return false;
  if (ParseAnswer(*answer)) {
    // The drive's length is believed only as far as the data it sent and the room asked for.
    const std::uint32_t length = answer->Number(kDataLengthOffset);
    std::span<const std::uint8_t> data = answer->Payload();
    if (length > data.size() || length > destination.size()) {
      LogDownloadFailure("ConvFileRead failed.");
      return false;
    }
    std::copy_n(data.begin(), length, destination.begin());
  }
  return true;
}

bool CDrive::ConvFileWrite(std::uint32_t handle, std::span<const std::uint8_t> source, std::uint32_t offset) {
  PumpPendingMessages();
  const std::size_t buffer = source.size() + gci::kHeaderSize;
  std::optional<CGciPacket> request = NewRequest(gci::kWriteFile, source.size(), buffer);
  if (request) {
    request->SetNumber(gci::kParameter1Offset, handle);
    request->SetNumber(gci::kParameter2Offset, offset);
    request->SetNumber(gci::kParameter3Offset, static_cast<std::uint32_t>(source.size()));
    request->SetPayload(source);
  }
  // A write the drive refused leaves the file short on the drive: it fails like a write that
  // got no answer, so the download is never reported whole.
  return Accepted(FileExchange(request, "ConvFileWrite failed.", buffer), "ConvFileWrite failed.");
}

bool CDrive::TransferFile(const std::string& localPath, const std::string& drivePath, std::uint32_t segmentSize,
                          IFlashProgress* progress) {
  std::uint32_t handle = 0;
  if (!OpenTransferFile(drivePath, true, handle) || handle == 0) return false;
  std::optional<std::vector<std::uint8_t>> bytes = ReadLocalFile(localPath);
  // A segment size of 0 would never get through the file.
  bool written = bytes.has_value() && segmentSize != 0;
  if (written) {
    const std::span<const std::uint8_t> file(*bytes);
    std::uint32_t offset = 0;
    bool slash = true;
    // An empty file still gets its one write, of nothing.
    do {
      if (progress != nullptr) {
        progress->SetDetailText(slash ? "/" : "\\");
        progress->PumpMessages();
      }
      slash = !slash;
      const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(file.size() - offset, segmentSize));
      written = ConvFileWrite(handle, file.subspan(offset, count), offset);
      offset += count;
    } while (written && offset < file.size());
  }
  const bool closed = CloseTransferFile(handle);
  return written && closed;
}

std::ofstream CDrive::OpenErrorFileCopy(const std::string& projectFolder) {
  const std::filesystem::path inProject = std::filesystem::path(projectFolder) / kErrorFileName;
  std::ofstream local(inProject, std::ios::binary | std::ios::trunc);
  if (local.is_open()) return local;
  // A project beside an installed catalog lies in a folder the user cannot write: the copy goes
  // to the user's data folder then, and the log says where.
  const std::filesystem::path own = std::filesystem::path(UserDataFolder()) / kErrorFileName;
  std::error_code error;
  std::filesystem::create_directories(own.parent_path(), error);
  local.open(own, std::ios::binary | std::ios::trunc);
  LogDownloadFailure(local.is_open()
                         ? FormatText("The drive's error file could not be written to '%s'; it is in '%s'.",
                                      inProject.c_str(), own.c_str())
                         : FormatText("The drive's error file could be written neither to '%s' nor to '%s'.",
                                      inProject.c_str(), own.c_str()));
  return local;
}

bool CDrive::ReadErrorFile(const std::string& projectFolder, std::uint32_t size, const std::string& drivePath,
                           std::uint32_t segmentSize) {
  std::uint32_t handle = 0;
  if (!OpenTransferFile(drivePath, false, handle) || handle == 0) return false;
  std::ofstream local = OpenErrorFileCopy(projectFolder);
  bool read = local.is_open() && segmentSize != 0;
  // One segment at a time: the drive's size claim never decides how much memory is taken.
  std::vector<std::uint8_t> segment(read ? std::min(size, segmentSize) : 0);
  for (std::uint32_t offset = 0; read && offset < size;) {
    const std::uint32_t count = std::min(size - offset, segmentSize);
    const std::span<std::uint8_t> chunk(segment.data(), count);
    std::fill(chunk.begin(), chunk.end(), 0);  // a short answer leaves nothing of the last segment
    read = ConvFileRead(handle, chunk, offset);
    if (read) read = static_cast<bool>(local.write(reinterpret_cast<const char*>(chunk.data()), count));
    offset += count;
  }
  local.close();
  const bool closed = CloseTransferFile(handle);
  return read && closed;
}
