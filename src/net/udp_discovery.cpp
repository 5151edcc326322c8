#include "net/udp_discovery.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/text_format.h"
#include "platform/wait_cursor.h"

std::string DottedAddress(std::uint32_t address) {
  in_addr in{};
  in.s_addr = address;
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &in, text, sizeof text);
  return text;
}

std::string CSocketDeviceInfo::IpText() const { return DottedAddress(IpAddress); }

std::string CSocketDeviceInfo::SubnetMaskText() const { return DottedAddress(SubnetMask); }

std::string CSocketDeviceInfo::HardwareAddressText() const {
  const auto& a = HardwareAddress;
  return FormatText("%02X-%02X-%02X-%02X-%02X-%02X", a[0], a[1], a[2], a[3], a[4], a[5]);
}

std::string CSocketDeviceInfo::DisplayName() const {
  // A unit's name is outside input: a control character would rearrange a terminal line or
  // a list row, and a broken surrogate pair must not reach the text as it is.
  std::u16string shown = Name;
  for (char16_t& unit : shown) {
    if (unit < 0x20 || unit == 0x7F) unit = u'?';
  }
  // The conversion writes a lone surrogate as it stands, which UTF-8 cannot hold; a byte
  // that comes out as a control character is shown as "?" too.
  std::string text = QString::fromStdU16String(shown).toStdString();
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return text;
}

std::vector<CLocalInterface> LocalIpv4Interfaces() {
  std::vector<CLocalInterface> found;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return found;
  for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
    found.push_back({entry->ifa_name, reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr});
  }
  ::freeifaddrs(list);
  return found;
}

CUdpDiscovery::CUdpDiscovery(CNotifySinkTrace* traceSink) : m_trace(traceSink) {
  if (m_trace == nullptr) {
    m_ownTrace = std::make_unique<CNotifySinkTrace>();
    m_trace = m_ownTrace.get();
  }
}

const CSocketDeviceInfo& CUdpDiscovery::Device(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= m_devices.size()) {
    throw std::out_of_range("discovery: no device at this index");
  }
  return *m_devices[static_cast<std::size_t>(index)];
}

CUdpDiscovery::Datagram CUdpDiscovery::Request(std::uint8_t command, std::uint16_t deviceType,
                                               const std::array<std::uint8_t, 6>& hardwareAddress) {
  Datagram datagram{};
  datagram[0] = 'Q';
  datagram[1] = 'X';
  datagram[2] = 0x01;
  datagram[3] = command;
  datagram[4] = static_cast<std::uint8_t>(deviceType);
  datagram[5] = static_cast<std::uint8_t>(deviceType >> 8);
  std::copy(hardwareAddress.begin(), hardwareAddress.end(), datagram.begin() + 6);
  return datagram;
}

std::optional<CSocketDeviceInfo> CUdpDiscovery::ParseAnnouncement(const std::uint8_t* data,
                                                                  std::size_t length) {
  // Bytes a short datagram did not carry count as zero.
  Datagram bytes{};
  std::copy(data, data + std::min(length, kDatagramSize), bytes.begin());
  if (bytes[0] != 'Q' || bytes[1] != 'X' || bytes[3] != kAnnouncement) return std::nullopt;
  CSocketDeviceInfo info;
  std::copy(bytes.begin() + 6, bytes.begin() + 12, info.HardwareAddress.begin());
  std::memcpy(&info.IpAddress, &bytes[12], 4);
  std::memcpy(&info.SubnetMask, &bytes[16], 4);
  info.DeviceType = static_cast<std::uint16_t>(bytes[4] | (bytes[5] << 8));
  // The name field holds 80 units; one without its terminator ends with the field.
  for (std::size_t i = 0; i < kMaxNameUnits; ++i) {
    char16_t unit = static_cast<char16_t>(bytes[kNameOffset + 2 * i] | (bytes[kNameOffset + 2 * i + 1] << 8));
    if (unit == 0) break;
    info.Name.push_back(unit);
  }
  return info;
}

bool CUdpDiscovery::BroadcastOn(const CLocalInterface& local, const Datagram& datagram) {
  int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (s < 0) {
    Trace("Error in creating socket\n");
    return false;
  }
  int yes = 1;
  ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &yes, sizeof yes);
  // The receiving socket of Search listens on the same port.
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  timeval second{1, 0};
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
  // The limited broadcast leaves through the route's interface whatever address the socket
  // has; tying the socket to its interface makes each pass reach its own network. Where the
  // system refuses that (an old kernel, no privilege) the bound address still decides the
  // sender, as on the networks with one interface.
  ::setsockopt(s, SOL_SOCKET, SO_BINDTODEVICE, local.Name.c_str(), static_cast<socklen_t>(local.Name.size()));

  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_port = htons(m_localPort);
  from.sin_addr.s_addr = local.Address;
  if (::bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
    Trace("Error in binding socket\n");
    ::close(s);
    return false;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(m_devicePort);
  to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  if (::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    Trace(FormatText("Connect Error! Windows Sockets Error Codes: %d\n", errno));
    ::close(s);
    return false;
  }
  ssize_t sent = ::send(s, datagram.data(), datagram.size(), MSG_NOSIGNAL);
  ::close(s);
  if (sent != static_cast<ssize_t>(datagram.size())) {
    Trace("send() failed\n");
    return false;
  }
  return true;
}

bool CUdpDiscovery::Broadcast(const Datagram& datagram) {
  Trace(FormatText("Broadcasting command %02X -------\n", datagram[3]));
  int number = 1;
  for (const CLocalInterface& local : m_interfaces()) {
    Trace(FormatText("  IPv4 Address #%d: %s\n", number++, DottedAddress(local.Address).c_str()));
    if (!BroadcastOn(local, datagram)) return false;
  }
  Trace("Broadcasting done ---------------\n");
  return true;
}

void CUdpDiscovery::TraceAnswer(const std::uint8_t* data) {
  Trace("++ Received response\n");
  Trace(FormatText("Command: %02X %02X\n", data[3], data[2]));
  Trace(FormatText("MAC: %02X-%02X-%02X-%02X-%02X-%02X\r\n", data[6], data[7], data[8], data[9],
                   data[10], data[11]));
}

void CUdpDiscovery::SearchPass(CSocketClient& client, const CLocalInterface& local) {
  if (!Broadcast(Request(kSearch, static_cast<std::uint16_t>(m_deviceType)))) {
    Trace("send() failed\n");
    return;
  }
  for (;;) {
    Datagram buffer{};  // zeroed each time: a short answer never shows an earlier one's bytes
    int length = static_cast<int>(buffer.size());
    if (client.ReceiveDatagram(buffer.data(), length, 1) != CSocketClient::kOk) {
      Trace("Receive timeout.\n");
      return;
    }
    if (buffer[0] != 'Q' || buffer[1] != 'X') {
      Trace(FormatText("Invalid header: %c%c\n", buffer[0], buffer[1]));
      return;
    }
    TraceAnswer(buffer.data());
    std::optional<CSocketDeviceInfo> info = ParseAnnouncement(buffer.data(), static_cast<std::size_t>(length));
    if (info) {
      Trace(FormatText("IP: %s\n", info->IpText().c_str()));
      Trace(FormatText("Subnetmask: %s\n", info->SubnetMaskText().c_str()));
      Trace(FormatText("Device: %04X\n", info->DeviceType));
      Trace(FormatText("Name: %s\n", info->DisplayName().c_str()));
      bool known = false;
      for (const auto& device : m_devices) known = known || device->HardwareAddress == info->HardwareAddress;
      if (!known) {
        info->LocalAddress = local.Address;
        m_devices.push_back(std::make_unique<CSocketDeviceInfo>(*info));
      }
    } else {
      Trace("Invalid response.\n");
    }
    Trace("\n");
  }
}

void CUdpDiscovery::Search(std::uint16_t deviceType, bool keepList) {
  CWaitCursor wait;
  if (!keepList) ClearDevices();
  m_deviceType = deviceType;
  CSocketClient client;
  if (client.OpenDatagram(m_localPort, 0, {}) != CSocketClient::kOk) {
    Trace("Error in creating socket.");
    return;
  }
  client.SetReceiveTimeout(1000);
  client.SetTraceSink(m_trace);
  int number = 1;
  for (const CLocalInterface& local : m_interfaces()) {
    Trace(FormatText("Searching devices at address #%d: %s\n", number++, DottedAddress(local.Address).c_str()));
    SearchPass(client, local);
  }
  client.Disconnect();
}

void CUdpDiscovery::IdentifyDevice(int index) {
  Broadcast(Request(kIdentify, 0, Device(index).HardwareAddress));
}
