#include "sim/sim_remote_device_server.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <memory>

#include "platform/emulated_usb_bus.h"
#include "sim/sim_error.h"

namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kOpenRecordSize = 518;
constexpr std::size_t kOpenAnswerSize = 260;
constexpr std::size_t kMaxOutTransfer = 256;
// A request longer than this is not one a client sends; the server drops the connection.
constexpr std::uint32_t kMaxRequestLength = 1u << 20;

bool ReceiveExactly(int fd, std::uint8_t* buffer, std::size_t count) {
  while (count > 0) {
    ssize_t got = ::recv(fd, buffer, count, 0);
    if (got <= 0) return false;
    buffer += got;
    count -= static_cast<std::size_t>(got);
  }
  return true;
}

bool SendAll(int fd, const std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    ssize_t sent = ::send(fd, data, count, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    count -= static_cast<std::size_t>(sent);
  }
  return true;
}

std::string NameOf(const std::uint8_t* record) {
  std::u16string name;
  for (std::size_t i = 6; i + 1 < kOpenRecordSize; i += 2) {
    char16_t unit = static_cast<char16_t>(record[i] | (record[i + 1] << 8));
    if (unit == 0) break;
    name.push_back(unit);
  }
  return QString::fromStdU16String(name).toStdString();
}

// One opened device: its handle and the IN bytes read but not asked for yet.
struct COpenDevice {
  std::unique_ptr<IUsbHandle> handle;
  std::vector<std::uint8_t> pending;

  bool Read(std::uint8_t* buffer, std::size_t count) {
    while (pending.size() < count) {
      std::uint8_t packet[64];
      long got = handle->ReadPacket(packet, sizeof packet);
      if (got < 0) return false;
      pending.insert(pending.end(), packet, packet + got);
    }
    std::copy(pending.begin(), pending.begin() + static_cast<long>(count), buffer);
    pending.erase(pending.begin(), pending.begin() + static_cast<long>(count));
    return true;
  }
  bool Write(const std::uint8_t* data, std::size_t count) {
    for (std::size_t done = 0; done < count; done += kMaxOutTransfer) {
      std::size_t piece = std::min(kMaxOutTransfer, count - done);
      if (handle->WritePacket(data + done, piece) != static_cast<long>(piece)) return false;
    }
    return true;
  }
};

}  // namespace

CSimRemoteDeviceServer::CSimRemoteDeviceServer(std::string busDirectory, std::string address, std::uint16_t port)
    : m_busDirectory(std::move(busDirectory)), m_address(std::move(address)), m_port(port) {}

CSimRemoteDeviceServer::~CSimRemoteDeviceServer() { Stop(); }

void CSimRemoteDeviceServer::Start() {
  m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int yes = 1;
  ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(m_port);
  if (m_listen < 0 || ::inet_pton(AF_INET, m_address.c_str(), &address.sin_addr) != 1 ||
      ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(m_listen, 4) != 0) {
    if (m_listen >= 0) ::close(m_listen);
    m_listen = -1;
    throw CSimError("remote device server: cannot listen on " + m_address + ":" + std::to_string(m_port));
  }
  socklen_t size = sizeof address;
  ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &size);
  m_port = ntohs(address.sin_port);
  m_thread = std::thread([this] { ServeLoop(); });
}

void CSimRemoteDeviceServer::Stop() {
  if (m_listen < 0) return;
  m_stopping = true;
  ::shutdown(m_listen, SHUT_RDWR);
  if (int client = m_client.load(); client >= 0) ::shutdown(client, SHUT_RDWR);
  if (m_thread.joinable()) m_thread.join();
  ::close(m_listen);
  m_listen = -1;
}

std::vector<std::vector<std::uint8_t>> CSimRemoteDeviceServer::Requests() const {
  std::lock_guard lock(m_mutex);
  return m_requests;
}

void CSimRemoteDeviceServer::Keep(std::vector<std::uint8_t> request) {
  std::lock_guard lock(m_mutex);
  m_requests.push_back(std::move(request));
}

void CSimRemoteDeviceServer::ServeLoop() {
  while (!m_stopping) {
    int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    m_client = fd;
    if (m_stopping) ::shutdown(fd, SHUT_RDWR);
    Serve(fd);
    m_client = -1;
    ::close(fd);
  }
}

void CSimRemoteDeviceServer::Serve(int fd) {
  CEmulatedUsbBus bus(m_busDirectory);
  COpenDevice device;
  for (;;) {
    std::vector<std::uint8_t> request(kHeaderSize);
    if (!ReceiveExactly(fd, request.data(), kHeaderSize)) return;
    unsigned type = request[0] | (request[1] << 8);
    std::uint32_t length = request[4] | (request[5] << 8) | (request[6] << 16) | (static_cast<std::uint32_t>(request[7]) << 24);
    if (length > kMaxRequestLength) return;
    if (type == 3 || type == 2) {
      request.resize(kHeaderSize + length);
      if (!ReceiveExactly(fd, request.data() + kHeaderSize, length)) return;
    }
    Keep(request);
    switch (type) {
      case 3: {  // open
        std::uint16_t status = kStatusNoDevice;
        if (length == kOpenRecordSize) {
          std::string name = NameOf(request.data() + kHeaderSize);
          for (const std::string& path : bus.AllDevicePaths()) {
            if (bus.FriendlyName(path) != name) continue;
            device.handle = bus.Open(path, UsbAccess::kReadWrite);
            if (device.handle) status = kStatusOpened;
            break;
          }
        }
        std::uint8_t answer[kOpenAnswerSize] = {};
        answer[258] = static_cast<std::uint8_t>(status);
        answer[259] = static_cast<std::uint8_t>(status >> 8);
        if (!SendAll(fd, answer, sizeof answer)) return;
        break;
      }
      case 1: {  // read: exactly the bytes asked for, or the connection goes
        std::vector<std::uint8_t> data(length);
        if (!device.handle || !device.Read(data.data(), length) || !SendAll(fd, data.data(), length)) return;
        break;
      }
      case 2:  // write
        if (!device.handle || !device.Write(request.data() + kHeaderSize, length)) return;
        break;
      case 4: return;  // close
      default: return;
    }
  }
}
