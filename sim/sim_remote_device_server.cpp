#include "sim/sim_remote_device_server.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <memory>

#include "platform/emulated_usb_bus.h"
#include "sim/sim_error.h"
#include "sim/sim_tcp_server.h"

namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kOpenRecordSize = 518;
constexpr std::size_t kOpenAnswerSize = 260;
constexpr std::size_t kMaxOutTransfer = 256;
// A request longer than this is not one a client sends; the server drops the connection.
constexpr std::uint32_t kMaxRequestLength = 1u << 20;

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
    : m_busDirectory(std::move(busDirectory)),
      m_address(std::move(address)),
      m_port(port),
      m_server(std::make_unique<CSimTcpServer>([this](int fd) { Serve(fd); })) {}

CSimRemoteDeviceServer::~CSimRemoteDeviceServer() { Stop(); }

void CSimRemoteDeviceServer::Start() {
  m_port = ntohs(m_server->Start("remote device server", m_address, m_port).sin_port);
}

void CSimRemoteDeviceServer::Stop() { m_server->Stop(); }

std::vector<std::vector<std::uint8_t>> CSimRemoteDeviceServer::Requests() const {
  std::lock_guard lock(m_mutex);
  return m_requests;
}

void CSimRemoteDeviceServer::Keep(std::vector<std::uint8_t> request) {
  std::lock_guard lock(m_mutex);
  m_requests.push_back(std::move(request));
}

void CSimRemoteDeviceServer::Serve(int fd) {
  CEmulatedUsbBus bus(m_busDirectory);
  COpenDevice device;
  for (;;) {
    std::vector<std::uint8_t> request(kHeaderSize);
    if (!SimReceiveExactly(fd, request.data(), kHeaderSize)) return;
    unsigned type = request[0] | (request[1] << 8);
    std::uint32_t length = request[4] | (request[5] << 8) | (request[6] << 16) | (static_cast<std::uint32_t>(request[7]) << 24);
    if (length > kMaxRequestLength) return;
    if (type == 3 || type == 2) {
      request.resize(kHeaderSize + length);
      if (!SimReceiveExactly(fd, request.data() + kHeaderSize, length)) return;
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
        if (!SimSendAll(fd, answer, sizeof answer)) return;
        break;
      }
      case 1: {  // read: exactly the bytes asked for, or the connection goes
        std::vector<std::uint8_t> data(length);
        if (!device.handle || !device.Read(data.data(), length) || !SimSendAll(fd, data.data(), length)) return;
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
