#include "platform/emulated_usb_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "platform/ascii_text.h"
#include "platform/sysfs_device_tree.h"
#include "platform/text_format.h"

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

struct CEmulatedUsbBus::Connection {
  explicit Connection(int descriptor) : fd(descriptor) {}
  ~Connection() { ::close(fd); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  int fd;
};

namespace {

bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

bool IsSerialChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
         c == '_';
}

bool IsHexRun(const std::string& text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return false;
  return std::all_of(text.begin() + static_cast<long>(at),
                     text.begin() + static_cast<long>(at + count), IsLowerHex);
}

// Milliseconds left until `deadline`, rounded up, at least 0.
int MillisecondsLeft(SteadyClock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
  return static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30));
}

// Waits until `fd` is ready for `events` or the deadline passes.
bool WaitReady(int fd, short events, SteadyClock::time_point deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    int ready = ::poll(&entry, 1, MillisecondsLeft(deadline));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
    if (ready == 0 && SteadyClock::now() >= deadline) return false;
  }
}

// Receives exactly `count` bytes before the deadline; false when the peer closed, an error
// occurred or time ran out.
bool ReceiveAll(int fd, std::uint8_t* buffer, std::size_t count, SteadyClock::time_point deadline) {
  std::size_t done = 0;
  while (done < count) {
    if (!WaitReady(fd, POLLIN, deadline)) return false;
    ssize_t got = ::recv(fd, buffer + done, count - done, MSG_DONTWAIT);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
    } else if (got == 0) {
      return false;
    } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      return false;
    }
  }
  return true;
}

bool SendAll(int fd, const std::uint8_t* data, std::size_t count, SteadyClock::time_point deadline) {
  std::size_t done = 0;
  while (done < count) {
    if (!WaitReady(fd, POLLOUT, deadline)) return false;
    // MSG_NOSIGNAL: a device that went away must not kill the program with SIGPIPE.
    ssize_t sent = ::send(fd, data + done, count - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      done += static_cast<std::size_t>(sent);
    } else if (sent < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      return false;
    }
  }
  return true;
}

bool SendFrame(int fd, const std::uint8_t* data, std::size_t length, std::uint16_t header,
               SteadyClock::time_point deadline) {
  const std::uint8_t prefix[2] = {static_cast<std::uint8_t>(header & 0xFF),
                                  static_cast<std::uint8_t>(header >> 8)};
  return SendAll(fd, prefix, 2, deadline) && SendAll(fd, data, length, deadline);
}

class CEmulatedUsbHandle : public IUsbHandle {
 public:
  CEmulatedUsbHandle(std::shared_ptr<CEmulatedUsbBus::Connection> connection, UsbAccess access,
                     const IUsbBus& bus)
      : m_connection(std::move(connection)), m_access(access), m_bus(bus) {}

  long ReadPacket(std::uint8_t* buffer, std::size_t capacity) override {
    if (m_access == UsbAccess::kWrite) return -1;
    auto deadline = SteadyClock::now() + m_bus.ReadBound();
    std::uint8_t prefix[2];
    if (!ReceiveAll(m_connection->fd, prefix, 2, deadline)) return -1;
    std::size_t length = prefix[0] | (prefix[1] << 8);
    if (length > capacity) return -1;  // a device that breaks the packet size breaks the link
    if (!ReceiveAll(m_connection->fd, buffer, length, deadline)) return -1;
    return static_cast<long>(length);
  }

  long WritePacket(const std::uint8_t* data, std::size_t length) override {
    if (m_access == UsbAccess::kRead) return -1;
    if (length >= CEmulatedUsbBus::kEjectFrame) return -1;  // cannot be framed
    // A device that stops taking data fails the write after the same bound as a read.
    auto deadline = SteadyClock::now() + m_bus.ReadBound();
    if (!SendFrame(m_connection->fd, data, length, static_cast<std::uint16_t>(length), deadline)) {
      return -1;
    }
    return static_cast<long>(length);
  }

 private:
  std::shared_ptr<CEmulatedUsbBus::Connection> m_connection;
  UsbAccess m_access;
  const IUsbBus& m_bus;
};

bool IsSocket(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

}  // namespace

CEmulatedUsbBus::CEmulatedUsbBus(std::string directory) : m_directory(std::move(directory)) {}

CEmulatedUsbBus::~CEmulatedUsbBus() = default;

bool CEmulatedUsbBus::IsDevicePath(const std::string& name, std::string* guid) {
  // usb#vid_VVVV&pid_PPPP#SERIAL#{GUID}
  static const std::string kHead = "usb#vid_";
  if (name.compare(0, kHead.size(), kHead) != 0) return false;
  if (!IsHexRun(name, 8, 4) || name.compare(12, 5, "&pid_") != 0 || !IsHexRun(name, 17, 4) ||
      name.size() < 22 || name[21] != '#') {
    return false;
  }
  auto guidStart = name.rfind("#{");
  if (guidStart == std::string::npos || guidStart <= 22 || name.back() != '}') return false;
  if (!std::all_of(name.begin() + 22, name.begin() + static_cast<long>(guidStart), IsSerialChar)) {
    return false;
  }
  std::string text = name.substr(guidStart + 2, name.size() - guidStart - 3);
  if (text != ToLowerAscii(kUsbFirstGenerationGuid) && text != ToLowerAscii(kUsbSecondGenerationGuid)) {
    return false;
  }
  if (guid != nullptr) *guid = text;
  return true;
}

std::vector<std::string> CEmulatedUsbBus::AllDevicePaths() const {
  std::vector<std::string> paths;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(m_directory, error)) {
    std::string name = entry.path().filename().string();
    if (IsDevicePath(name) && IsSocket(entry.path())) paths.push_back(name);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

std::unique_ptr<IUsbInterfaceList> CEmulatedUsbBus::ListInterfaces(std::string_view interfaceGuid) {
  std::error_code error;
  if (!fs::is_directory(m_directory, error)) return nullptr;
  std::string wanted = ToLowerAscii(interfaceGuid);
  std::vector<std::string> paths;
  for (auto& path : AllDevicePaths()) {
    std::string guid;
    if (IsDevicePath(path, &guid) && guid == wanted) paths.push_back(std::move(path));
  }
  return std::make_unique<CUsbInterfaceVector>(std::move(paths));
}

int CEmulatedUsbBus::Connect(const std::string& devicePath, UsbOpenError& error) const {
  error = UsbOpenError::kNone;
  if (!IsDevicePath(devicePath)) {
    error = UsbOpenError::kNotFound;
    return -1;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = UsbOpenError::kFailed;
    return -1;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string full = m_directory + "/" + devicePath;
  int directoryFd = -1;
  if (full.size() >= sizeof(address.sun_path)) {
    // A socket path longer than sun_path is reached through the directory's descriptor.
    directoryFd = ::open(m_directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    full = FormatText("/proc/self/fd/%d/%s", directoryFd, devicePath.c_str());
  }
  int result = -1;
  if (full.size() < sizeof(address.sun_path)) {
    std::memcpy(address.sun_path, full.c_str(), full.size() + 1);
    do {
      result = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    } while (result != 0 && errno == EINTR);
  } else {
    errno = ENAMETOOLONG;
  }
  int connectError = errno;
  if (directoryFd >= 0) ::close(directoryFd);
  if (result == 0) return fd;
  ::close(fd);
  switch (connectError) {
    case EACCES:
    case EPERM: error = UsbOpenError::kPermissionDenied; break;
    case ENOENT:
    case ECONNREFUSED:
    case ENOTSOCK: error = UsbOpenError::kNotFound; break;
    case EAGAIN: error = UsbOpenError::kBusy; break;
    default: error = UsbOpenError::kFailed; break;
  }
  return -1;
}

std::unique_ptr<IUsbHandle> CEmulatedUsbBus::Open(const std::string& path, UsbAccess access,
                                                  UsbOpenError* error) {
  UsbOpenError reason = UsbOpenError::kNone;
  std::string devicePath;
  std::string pipe;
  SplitPipePath(path, devicePath, pipe);
  if (!IsKnownPipe(pipe)) {
    if (error != nullptr) *error = UsbOpenError::kNotFound;
    return nullptr;
  }
  std::shared_ptr<Connection> connection = m_connections.Share(devicePath, pipe, [&]() -> std::shared_ptr<Connection> {
    int fd = Connect(devicePath, reason);
    return fd >= 0 ? std::make_shared<Connection>(fd) : nullptr;
  });
  if (error != nullptr) *error = reason;
  if (!connection) return nullptr;
  return std::make_unique<CEmulatedUsbHandle>(std::move(connection), access, *this);
}

std::string CEmulatedUsbBus::FriendlyName(const std::string& devicePath) {
  if (!IsDevicePath(devicePath)) return {};
  auto name = CSysfsDeviceTree::ReadAttribute(m_directory + "/" + devicePath + ".name");
  if (!name) return {};
  if (!name->empty() && name->back() == '\r') name->pop_back();
  return *name;
}

bool CEmulatedUsbBus::Eject(const std::string& devicePath) {
  UsbOpenError reason = UsbOpenError::kNone;
  int fd = Connect(devicePath, reason);
  if (fd < 0) return false;
  auto deadline = SteadyClock::now() + ReadBound();
  bool sent = SendFrame(fd, nullptr, 0, kEjectFrame, deadline);
  if (sent) {
    // A device that closes the reset connection once it is back from the reset tells the host
    // so: a host that opened it earlier would reach the device it has just reset, or nothing.
    // A device that waits for the host to close first costs this bound, no more.
    std::uint8_t ignored = 0;
    ReceiveAll(fd, &ignored, 1, SteadyClock::now() + kEjectDepartureBound);
  }
  ::close(fd);
  return sent;
}

std::unique_ptr<IDeviceTree> CEmulatedUsbBus::OpenDeviceTree() {
  return std::make_unique<CEmulatedDeviceTree>(*this);
}

CEmulatedDeviceTree::CEmulatedDeviceTree(CEmulatedUsbBus& bus) : m_bus(bus) {
  for (const auto& path : bus.AllDevicePaths()) {
    std::error_code error;
    bool named = fs::exists(bus.Directory() + "/" + path + ".name", error);
    AddNode(0, path, named ? std::optional<std::string>(bus.FriendlyName(path)) : std::nullopt,
            DN_REMOVABLE);
  }
}

ConfigRet CEmulatedDeviceTree::RequestEject(DevNode node, std::uint32_t& vetoType,
                                            std::string& vetoName) {
  vetoType = 0;
  vetoName.clear();
  if (!IsNode(node) || node == 0) return CR_INVALID_DEVNODE;
  return m_bus.Eject(NodeAt(node).id) ? CR_SUCCESS : CR_FAILURE;
}
