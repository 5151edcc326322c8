#pragma once
// The TCP listener of a simulated network peer (a network unit, the remote device server): it
// serves one client at a time on a thread of its own, handing each connection to the peer's
// serve function, until it is stopped.

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

class CSimTcpServer {
 public:
  explicit CSimTcpServer(std::function<void(int fd)> serve) : m_serve(std::move(serve)) {}
  ~CSimTcpServer() { Stop(); }
  CSimTcpServer(const CSimTcpServer&) = delete;
  CSimTcpServer& operator=(const CSimTcpServer&) = delete;

  // Listens on address:port (port 0: any free one) and starts serving; the address bound.
  // Throws CSimError, naming `who`, when the address cannot be listened on.
  sockaddr_in Start(const std::string& who, const std::string& address, std::uint16_t port);
  // Ends the connection being served and the listener; returns once the thread is gone.
  void Stop();

 private:
  void AcceptLoop();

  std::function<void(int fd)> m_serve;
  int m_listen = -1;
  std::atomic<int> m_client{-1};
  std::atomic<bool> m_stopping{false};
  std::thread m_thread;
};

// Reads exactly `count` bytes; false when the peer closed or failed first.
bool SimReceiveExactly(int fd, std::uint8_t* buffer, std::size_t count);
// Sends all `count` bytes, never raising SIGPIPE; false when the peer is gone.
bool SimSendAll(int fd, const void* data, std::size_t count);
