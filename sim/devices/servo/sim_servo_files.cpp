#include "sim/devices/servo/sim_servo_files.h"

#include <algorithm>
#include <cctype>

#include "devices/servo/gci_message.h"
#include "sim/devices/servo/sim_servo_bytes.h"

namespace {

// The well-known files a request may name by number in byte 12.
constexpr const char* kNumberedFiles[] = {"FILE01.DAT", "FILE02.DAT", "FILE03.DAT"};

std::uint32_t Parameter(std::span<const std::uint8_t> request, std::size_t offset) {
  return SimServoGet(request, offset);
}

// The payload of a request: everything after the header.
std::span<const std::uint8_t> Payload(std::span<const std::uint8_t> request) {
  return request.subspan(gci::kHeaderSize);
}

// The open mode of a request of type 142: the three bytes at 16..18, up to a zero.
std::string OpenMode(std::span<const std::uint8_t> request) {
  std::string mode;
  for (std::size_t i = gci::kParameter2Offset; i < gci::kParameter2Offset + 3 && request[i] != 0; ++i) {
    mode += static_cast<char>(request[i]);
  }
  return mode;
}

}  // namespace

CSimServoFiles::CSimServoFiles(std::uint32_t freeBytes, std::uint32_t segmentSize)
    : m_capacity(freeBytes), m_segmentSize(segmentSize) {}

void CSimServoFiles::Preload(const std::string& path, std::vector<std::uint8_t> data) {
  m_files[Key(path)] = CSimServoFile{path, std::move(data)};
}

std::vector<CSimServoFile> CSimServoFiles::Files() const {
  std::vector<CSimServoFile> files;
  for (const auto& [key, file] : m_files) files.push_back(file);
  return files;
}

std::uint64_t CSimServoFiles::UsedBytes() const {
  std::uint64_t used = 0;
  for (const auto& [key, file] : m_files) used += file.Data.size();
  return used;
}

std::uint32_t CSimServoFiles::FreeBytes() const {
  const std::uint64_t used = UsedBytes();
  return used >= m_capacity ? 0 : static_cast<std::uint32_t>(m_capacity - used);
}

std::string CSimServoFiles::Key(const std::string& path) {
  std::string key = path;
  std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
  return key;
}

std::optional<std::vector<std::uint8_t>> CSimServoFiles::Execute(std::span<const std::uint8_t> request) {
  if (request.size() < gci::kHeaderSize || request[0] != gci::kMarker ||
      Parameter(request, gci::kLengthOffset) != request.size() - 8) {
    return std::nullopt;
  }
  const std::uint8_t type = request[gci::kTypeOffset];
  Answer answer;
  if (auto failed = m_failedTypes.find(type); failed != m_failedTypes.end()) {
    answer.Status = failed->second;
  } else {
    switch (type) {
      case gci::kOpenFile: answer = Open(request); break;
      case gci::kCloseFile: answer = Close(request); break;
      case gci::kReadFile: answer = Read(request); break;
      case gci::kWriteFile: answer = Write(request); break;
      case gci::kGetFileSize: answer = FileSize(request); break;
      case gci::kGetSizeDir: answer = SizeDir(request); break;
      case gci::kGetSegmentSize: answer = SegmentSize(request); break;
      default: answer.Status = kSimServoUnknownType; break;
    }
  }
  // The answer repeats the request's type and handle slot; an error answer carries its status
  // and nothing else.
  std::vector<std::uint8_t> message(gci::kHeaderSize);
  message[0] = gci::kMarker;
  message[gci::kTypeOffset] = type;
  message[gci::kHandleOffset] = request[gci::kHandleOffset];
  SimServoPut(message, gci::kStatusOffset, answer.Status, 2);
  if (answer.Status == kSimServoOk) {
    for (const auto& [offset, value] : answer.Parameters) SimServoPut(message, offset, value);
    message.insert(message.end(), answer.Payload.begin(), answer.Payload.end());
  }
  SimServoPut(message, gci::kLengthOffset, static_cast<std::uint32_t>(message.size() - 8));
  return message;
}

std::optional<std::string> CSimServoFiles::RequestedPath(std::span<const std::uint8_t> request) {
  const std::uint8_t number = request[gci::kParameter1Offset];
  if (number >= 1 && number <= std::size(kNumberedFiles)) return kNumberedFiles[number - 1];
  if (number != gci::kNamedFile) return std::nullopt;
  std::span<const std::uint8_t> payload = Payload(request);
  auto end = std::find(payload.begin(), payload.end(), 0);
  if (end == payload.end() || end == payload.begin()) return std::nullopt;
  if (static_cast<std::size_t>(end - payload.begin()) > kMaxNameLength) return std::nullopt;
  return std::string(payload.begin(), end);
}

CSimServoFiles::Answer CSimServoFiles::Open(std::span<const std::uint8_t> request) {
  std::optional<std::string> path = RequestedPath(request);
  const std::string mode = OpenMode(request);
  if (!path || (mode != "rb" && mode != "wb+")) return {kSimServoMalformed};
  if (m_handles.size() >= kMaxOpenFiles) return {kSimServoTooManyOpen};
  const std::string key = Key(*path);
  const bool write = mode == "wb+";
  if (write) {
    auto [file, added] = m_files.try_emplace(key, CSimServoFile{*path, {}});
    file->second.Data.clear();
  } else if (!m_files.contains(key)) {
    return {kSimServoNoFile};
  }
  const std::uint32_t handle = m_nextHandle++;
  m_handles[handle] = Handle{key, write};
  return {kSimServoOk, {{gci::kParameter3Offset, handle}}};
}

CSimServoFiles::Answer CSimServoFiles::Close(std::span<const std::uint8_t> request) {
  if (m_handles.erase(Parameter(request, gci::kParameter1Offset)) == 0) return {kSimServoNoHandle};
  return {};
}

CSimServoFiles::Answer CSimServoFiles::Read(std::span<const std::uint8_t> request) {
  auto handle = m_handles.find(Parameter(request, gci::kParameter1Offset));
  if (handle == m_handles.end()) return {kSimServoNoHandle};
  const std::vector<std::uint8_t>& data = m_files.at(handle->second.Key).Data;
  const std::uint32_t offset = Parameter(request, gci::kParameter2Offset);
  const std::uint32_t length = Parameter(request, gci::kParameter3Offset);
  if (offset > data.size() || length > kMaxReadLength) return {kSimServoMalformed};
  const std::size_t count = std::min<std::size_t>(length, data.size() - offset);
  Answer answer{kSimServoOk, {{gci::kParameter3Offset, static_cast<std::uint32_t>(count)}}};
  answer.Payload.assign(data.begin() + offset, data.begin() + offset + count);
  return answer;
}

CSimServoFiles::Answer CSimServoFiles::Write(std::span<const std::uint8_t> request) {
  auto handle = m_handles.find(Parameter(request, gci::kParameter1Offset));
  if (handle == m_handles.end()) return {kSimServoNoHandle};
  if (!handle->second.Write) return {kSimServoAccess};
  std::vector<std::uint8_t>& data = m_files.at(handle->second.Key).Data;
  const std::uint32_t offset = Parameter(request, gci::kParameter2Offset);
  std::span<const std::uint8_t> bytes = Payload(request);
  if (Parameter(request, gci::kParameter3Offset) != bytes.size() || offset > data.size()) return {kSimServoMalformed};
  const std::uint64_t end = std::uint64_t{offset} + bytes.size();
  if (end > data.size() && end - data.size() > FreeBytes()) return {kSimServoNoSpace};
  if (end > data.size()) data.resize(end);
  std::copy(bytes.begin(), bytes.end(), data.begin() + offset);
  return {};
}

CSimServoFiles::Answer CSimServoFiles::FileSize(std::span<const std::uint8_t> request) {
  std::optional<std::string> path = RequestedPath(request);
  if (!path) return {kSimServoMalformed};
  auto file = m_files.find(Key(*path));
  if (file == m_files.end()) return {kSimServoNoFile};
  return {kSimServoOk, {{gci::kParameter2Offset, static_cast<std::uint32_t>(file->second.Data.size())}}};
}

CSimServoFiles::Answer CSimServoFiles::SizeDir(std::span<const std::uint8_t> request) const {
  std::span<const std::uint8_t> payload = Payload(request);
  if (request[gci::kParameter1Offset] != 0 || std::find(payload.begin(), payload.end(), 0) == payload.end()) {
    return {kSimServoMalformed};
  }
  return {kSimServoOk, {{gci::kParameter4Offset, FreeBytes()}}};
}

CSimServoFiles::Answer CSimServoFiles::SegmentSize(std::span<const std::uint8_t> request) const {
  if (Parameter(request, gci::kParameter1Offset) != 3) return {kSimServoMalformed};
  return {kSimServoOk, {{gci::kParameter3Offset, m_segmentSize}}};
}
