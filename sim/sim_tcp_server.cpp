#include "sim/sim_tcp_server.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include "sim/sim_error.h"

sockaddr_in CSimTcpServer::Start(const std::string& who, const std::string& address, std::uint16_t port) {
  m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int yes = 1;
  ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_port = htons(port);
  if (m_listen < 0 || ::inet_pton(AF_INET, address.c_str(), &bound.sin_addr) != 1 ||
      ::bind(m_listen, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0 || ::listen(m_listen, 4) != 0) {
    if (m_listen >= 0) ::close(m_listen);
    m_listen = -1;
    throw CSimError(who + ": cannot listen on " + address + ":" + std::to_string(port));
  }
  socklen_t size = sizeof bound;
  ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&bound), &size);
  m_stopping = false;
  m_thread = std::thread([this] { AcceptLoop(); });
  return bound;
}

void CSimTcpServer::Stop() {
  if (m_listen < 0) return;
  m_stopping = true;
  ::shutdown(m_listen, SHUT_RDWR);
  if (int client = m_client.load(); client >= 0) ::shutdown(client, SHUT_RDWR);
  if (m_thread.joinable()) m_thread.join();
  ::close(m_listen);
  m_listen = -1;
}

void CSimTcpServer::AcceptLoop() {
  while (!m_stopping) {
    int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    m_client = fd;
    // Stop may have come between accept and the line above: the connection ends at once then.
    if (m_stopping) ::shutdown(fd, SHUT_RDWR);
    m_serve(fd);
    m_client = -1;
    ::close(fd);
  }
}

bool SimReceiveExactly(int fd, std::uint8_t* buffer, std::size_t count) {
  while (count > 0) {
    ssize_t got = ::recv(fd, buffer, count, 0);
    if (got <= 0) return false;
    buffer += got;
    count -= static_cast<std::size_t>(got);
  }
  return true;
}

bool SimSendAll(int fd, const void* data, std::size_t count) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (count > 0) {
    ssize_t sent = ::send(fd, bytes, count, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes += sent;
    count -= static_cast<std::size_t>(sent);
  }
  return true;
}
