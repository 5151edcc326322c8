#include "sim/devices/zt7720/sim_discovery_responder.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "sim/sim_error.h"

CSimDiscoveryResponder::CSimDiscoveryResponder(CSimUnitIdentity identity, std::vector<std::string> interfaces)
    : m_identity(std::move(identity)), m_interfaces(std::move(interfaces)) {}

CSimDiscoveryResponder::~CSimDiscoveryResponder() { Stop(); }

void CSimDiscoveryResponder::SetReplyRule(ReplyRule rule) {
  std::lock_guard lock(m_mutex);
  m_rule = std::move(rule);
}

CSimDiscoveryResponder::Datagram CSimDiscoveryResponder::Announcement(const CSimUnitIdentity& identity) {
  Datagram d{};
  d[0] = 'Q';
  d[1] = 'X';
  d[2] = 0x01;
  d[3] = 0x91;
  d[4] = static_cast<std::uint8_t>(identity.DeviceType);
  d[5] = static_cast<std::uint8_t>(identity.DeviceType >> 8);
  std::memcpy(&d[6], identity.HardwareAddress.data(), 6);
  std::memcpy(&d[12], &identity.IpAddress, 4);
  std::memcpy(&d[16], &identity.SubnetMask, 4);
  for (std::size_t i = 0; i < identity.Name.size() && 20 + 2 * i + 1 < d.size(); ++i) {
    d[20 + 2 * i] = static_cast<std::uint8_t>(identity.Name[i]);
    d[21 + 2 * i] = static_cast<std::uint8_t>(identity.Name[i] >> 8);
  }
  return d;
}

CSimDiscoveryResponder::Datagram CSimDiscoveryResponder::Announcement() const { return Announcement(m_identity); }

std::vector<CSimDiscoveryResponder::Datagram> CSimDiscoveryResponder::Answer(const Datagram& request,
                                                                           const std::string& interfaceName) const {
  {
    std::lock_guard lock(m_mutex);
    if (m_rule) return m_rule(request, interfaceName);
  }
  if (request[0] != 'Q' || request[1] != 'X' || request[3] != 0x80) return {};
  std::uint16_t wanted = static_cast<std::uint16_t>(request[4] | (request[5] << 8));
  if (wanted != 0 && wanted != m_identity.DeviceType) return {};
  return {Announcement()};
}

void CSimDiscoveryResponder::Start() {
  std::vector<std::string> names = m_interfaces.empty() ? std::vector<std::string>{""} : m_interfaces;
  for (const std::string& name : names) {
    int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    int yes = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &yes, sizeof yes);
    if (!name.empty()) ::setsockopt(s, SOL_SOCKET, SO_BINDTODEVICE, name.c_str(), static_cast<socklen_t>(name.size()));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kDevicePort);
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      if (s >= 0) ::close(s);
      Stop();
      throw CSimError("discovery responder: cannot listen on UDP port 17008" + (name.empty() ? "" : " of " + name));
    }
    m_sockets.push_back(s);
  }
  m_stopping = false;
  m_thread = std::thread([this] { Serve(); });
}

void CSimDiscoveryResponder::Stop() {
  m_stopping = true;
  if (m_thread.joinable()) m_thread.join();
  for (int s : m_sockets) ::close(s);
  m_sockets.clear();
}

std::vector<CSimDiscoveryResponder::Request> CSimDiscoveryResponder::Requests() const {
  std::lock_guard lock(m_mutex);
  return m_requests;
}

void CSimDiscoveryResponder::Serve() {
  std::vector<pollfd> polled;
  for (int s : m_sockets) polled.push_back({s, POLLIN, 0});
  while (!m_stopping) {
    if (::poll(polled.data(), polled.size(), 50) <= 0) continue;
    for (std::size_t i = 0; i < polled.size(); ++i) {
      if ((polled[i].revents & POLLIN) == 0) continue;
      Datagram request{};
      sockaddr_in sender{};
      socklen_t size = sizeof sender;
      if (::recvfrom(polled[i].fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&sender), &size) < 0) {
        continue;
      }
      std::string name = m_interfaces.empty() ? std::string() : m_interfaces[i];
      {
        std::lock_guard lock(m_mutex);
        m_requests.push_back({name, request});
      }
      for (const Datagram& answer : Answer(request, name)) {
        ::sendto(polled[i].fd, answer.data(), answer.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sender), size);
      }
    }
  }
}
