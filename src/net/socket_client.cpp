#include "net/socket_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/text_format.h"
#include "platform/wire_trace.h"

// ---- CSocketBase: the raw calls ----

int CSocketBase::AfterConnect(int /*socket*/, const std::string& /*host*/) { return 0; }

int CSocketBase::CloseSocketHandle(int socket) { return ::close(socket); }

int CSocketBase::ShutdownSocket(int socket, int how) { return ::shutdown(socket, how); }

int CSocketBase::RecvRaw(int socket, void* buffer, int length, int flags) {
  return static_cast<int>(::recv(socket, buffer, static_cast<size_t>(length), flags));
}

int CSocketBase::SendRaw(int socket, const void* data, int length, int flags) {
  return static_cast<int>(::send(socket, data, static_cast<size_t>(length), flags | MSG_NOSIGNAL));
}

bool CSocketBase::HasPendingData(int socket) {
  int count = 0;
  return ::ioctl(socket, FIONREAD, &count) == 0 && count > 0;
}

// ---- CSocketClient ----

namespace {

// The wire trace names a connection by the peer's host and port.
std::string TraceLink(const std::string& host, std::uint16_t port) { return host + ":" + std::to_string(port); }

bool IsDottedIpv4(const std::string& text) {
  in_addr address{};
  return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// Only these codes arise on the program's paths; the rest of the table's vocabulary is kept
// for the texts a person may meet in a trace.
const char* KnownErrorText(int code) {
  switch (code) {
    case 0: return "Operation completed successfully.";
    case 1: return "Operation failed.";
    case 2: return "The connection failed.";
    case 5: return "The connection timed-out.";
    case 15: return "The socket is not opened.";
    case 16: return "The socket is already opened or in use.";
    case 17: return "The socket creation failed.";
    case 18: return "The socket binding to local port failed.";
    case 19: return "The socket connection failed.";
    case 20: return "A timeout occurred.";
    case 21: return "A receive socket error occurred.";
    case 22: return "Winsock send command failed.";
    case 81: return "Failed to open data source.";
    case 83: return "Failed to write to the data source.";
    case 98: return "Aborted by user.";
    case 100: return "The address is not valid.";
    default: return nullptr;
  }
}

timeval ToTimeval(int milliseconds) {
  timeval tv{};
  tv.tv_sec = milliseconds / 1000;
  tv.tv_usec = (milliseconds % 1000) * 1000;
  return tv;
}

}  // namespace

CSocketClient::~CSocketClient() {
  if (m_socket == kNoSocket) return;
  if (m_type == SOCK_STREAM) ShutdownSocket(m_socket, SHUT_RDWR);
  CloseSocketHandle(m_socket);
  m_socket = kNoSocket;
}

std::string CSocketClient::ErrorText(int code) {
  if (const char* text = KnownErrorText(code)) return text;
  return FormatText("Socket error %d.", code);
}

std::string CSocketClient::ResolveHost(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return {};
  char text[INET_ADDRSTRLEN] = {};
  auto* address = reinterpret_cast<sockaddr_in*>(found->ai_addr);
  ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
  ::freeaddrinfo(found);
  return text;
}

CNotifySinkTrace* CSocketClient::SetTraceSink(CNotifySinkTrace* sink) {
  CNotifySinkTrace* previous = m_traceSink;
  m_traceSink = sink;
  return previous;
}

void CSocketClient::SetNonBlocking(bool nonBlocking) {
  m_nonBlocking = nonBlocking;
  if (m_socket == kNoSocket) return;
  int flags = ::fcntl(m_socket, F_GETFL, 0);
  if (flags < 0) return;
  ::fcntl(m_socket, F_SETFL, nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

int CSocketClient::NewSocket(int& socket, int family, int type, int protocol) {
  socket = ::socket(family, type | SOCK_CLOEXEC, protocol);
  return socket < 0 ? kFailed : kOk;
}

void CSocketClient::CloseAfterFailure() {
  CloseSocketHandle(m_socket);
  m_socket = kNoSocket;
}

void CSocketClient::ApplyTimeouts() {
  timeval receive = ToTimeval(m_receiveTimeoutMs);
  timeval send = ToTimeval(m_sendTimeoutMs);
  ReportSocketError(::setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof receive));
  ReportSocketError(::setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, &send, sizeof send));
}

void CSocketClient::RefreshPorts() {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (::getpeername(m_socket, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    m_remotePort = ntohs(address.sin_port);
  }
  size = sizeof address;
  if (::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    m_localPort = ntohs(address.sin_port);
  }
}

int CSocketClient::ConnectTcp(const std::string& host, std::uint16_t port, int timeoutSeconds,
                              int family, int type) {
  if (m_socket != kNoSocket) return ReportError(kAlreadyOpened);
  m_host = host;
  std::string dotted = IsDottedIpv4(host) ? host : ResolveHost(host);
  if (dotted.empty()) return ReportError(kBadAddress);

  m_family = family;
  m_type = type;
  m_remotePort = port;
  m_remoteAddress = {};
  m_remoteAddress.sin_family = static_cast<sa_family_t>(family);
  m_remoteAddress.sin_port = htons(port);
  ::inet_pton(AF_INET, dotted.c_str(), &m_remoteAddress.sin_addr);

  if (NewSocket(m_socket, family, type, 0) != kOk) {
    m_socket = kNoSocket;
    return ReportError(kCreateFailed);
  }
  if (timeoutSeconds >= 0) SetNonBlocking(true);

  int result = ::connect(m_socket, reinterpret_cast<sockaddr*>(&m_remoteAddress), sizeof m_remoteAddress);
  if (result != 0 && errno != EINPROGRESS) {
    CloseAfterFailure();
    return ReportError(kConnectFailed);
  }
  if (result != 0 && timeoutSeconds >= 0) {
    // The socket turns writable when the handshake ends either way; SO_ERROR tells which.
    // A refused port must not pass for a connection here.
    int pending = 0;
    socklen_t size = sizeof pending;
    if (!WaitWritable(timeoutSeconds * 1000)) {
      CloseAfterFailure();
      return ReportError(kTimedOutConnect);
    }
    if (::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &pending, &size) != 0 || pending != 0) {
      CloseAfterFailure();
      return ReportError(kConnectFailed);
    }
  }
  if (timeoutSeconds >= 0) SetNonBlocking(false);

  ApplyTimeouts();
  if (type == SOCK_STREAM) {
    // Requests and answers are small and strictly take turns (the remote device stream asks
    // for every answer on its own): held back for the acknowledgement of the one before, each
    // request would wait for the peer's delayed acknowledgement, some 40 ms an exchange.
    int noDelay = 1;
    ::setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  }
  RefreshPorts();
  if (int hook = AfterConnect(m_socket, m_host); hook != 0) {
    CloseAfterFailure();
    return ReportError(hook);
  }
  TraceEvent(TraceLink(m_host, m_remotePort), "connected");
  return kOk;
}

int CSocketClient::OpenDatagram(std::uint16_t localPort, std::uint16_t remotePort,
                                const std::string& remoteAddress, const std::string& localAddress) {
  if (m_socket != kNoSocket) return ReportError(kAlreadyOpened);
  m_host = remoteAddress;
  m_family = AF_INET;
  m_type = SOCK_DGRAM;
  if (NewSocket(m_socket, AF_INET, SOCK_DGRAM, IPPROTO_UDP) != kOk) {
    m_socket = kNoSocket;
    return ReportError(kCreateFailed);
  }
  // The discovery's broadcast sockets send from the same port while this one listens on it.
  int yes = 1;
  ::setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);

  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(localPort);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (!localAddress.empty() && ::inet_pton(AF_INET, localAddress.c_str(), &local.sin_addr) != 1) {
    CloseAfterFailure();
    return ReportError(kBindFailed);
  }
  if (::bind(m_socket, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    CloseAfterFailure();
    return ReportError(kBindFailed);
  }
  m_remoteAddress = {};
  m_remoteAddress.sin_family = AF_INET;
  m_remoteAddress.sin_port = htons(remotePort);
  if (!remoteAddress.empty()) ::inet_pton(AF_INET, remoteAddress.c_str(), &m_remoteAddress.sin_addr);
  m_remotePort = remotePort;
  RefreshPorts();
  ApplyTimeouts();
  return kOk;
}

int CSocketClient::Disconnect() {
  if (m_socket == kNoSocket) return kOk;
  bool failed = false;
  if (m_type == SOCK_STREAM && ShutdownSocket(m_socket, SHUT_RDWR) != 0) failed = true;
  if (CloseSocketHandle(m_socket) != 0) failed = true;
  m_socket = kNoSocket;
  TraceEvent(TraceLink(m_host, m_remotePort), "closed");
  return ReportError(failed ? kFailed : kOk);
}

bool CSocketClient::SendAll(const std::uint8_t* data, int length) {
  while (length > 0) {
    int sent = SendRaw(m_socket, data, length, 0);
    if (sent < 0) {
      TraceEvent(TraceLink(m_host, m_remotePort), "send failed");
      return false;
    }
    if (sent == 0) break;
    TraceTransfer(TraceLink(m_host, m_remotePort), WireDirection::kOut, data, static_cast<std::size_t>(sent));
    data += sent;
    length -= sent;
  }
  return true;
}

bool CSocketClient::SendDatagram(const std::uint8_t* data, int& length) {
  ssize_t sent = ::sendto(m_socket, data, static_cast<size_t>(length), MSG_NOSIGNAL,
                          reinterpret_cast<sockaddr*>(&m_remoteAddress), sizeof m_remoteAddress);
  if (sent < 0) {
    ReportError(kSendFailed);
    return false;
  }
  length = static_cast<int>(sent);
  return true;
}

bool CSocketClient::WaitReady(int milliseconds, bool forWriting) {
  if (m_socket == kNoSocket || m_socket >= FD_SETSIZE) return false;
  fd_set set;
  FD_ZERO(&set);
  FD_SET(m_socket, &set);
  timeval tv = ToTimeval(milliseconds);
  int result = forWriting ? ::select(m_socket + 1, nullptr, &set, nullptr, &tv)
                          : ::select(m_socket + 1, &set, nullptr, nullptr, &tv);
  return result > 0 && FD_ISSET(m_socket, &set);
}

bool CSocketClient::WaitWritable(int milliseconds) { return WaitReady(milliseconds, true); }

bool CSocketClient::WaitReadable(int milliseconds) { return WaitReady(milliseconds, false); }

int CSocketClient::ReceiveAll(std::uint8_t* buffer, int length, int timeoutSeconds) {
  int received = 0;
  while (received < length) {
    if (timeoutSeconds > 0 && !WaitReadable(timeoutSeconds * 1000)) break;
    int count = RecvRaw(m_socket, buffer + received, length - received, 0);
    if (count < 1) break;
    TraceTransfer(TraceLink(m_host, m_remotePort), WireDirection::kIn, buffer + received, static_cast<std::size_t>(count));
    received += count;
  }
  return received;
}

int CSocketClient::ReceiveSome(std::uint8_t* buffer, int length, int timeoutSeconds) {
  if (timeoutSeconds > 0 && !WaitReadable(timeoutSeconds * 1000)) return 0;
  int count = RecvRaw(m_socket, buffer, length, 0);
  if (count > 0) TraceTransfer(TraceLink(m_host, m_remotePort), WireDirection::kIn, buffer, static_cast<std::size_t>(count));
  return count;
}

int CSocketClient::ReceiveDatagram(std::uint8_t* buffer, int& length, int timeoutSeconds) {
  if (m_socket == kNoSocket) return ReportError(kNotOpened);
  if (!WaitReadable(timeoutSeconds * 1000)) return ReportError(kTimeout);
  socklen_t size = sizeof m_remoteAddress;
  ssize_t count = ::recvfrom(m_socket, buffer, static_cast<size_t>(length), 0,
                             reinterpret_cast<sockaddr*>(&m_remoteAddress), &size);
  if (count < 0) return ReportError(kReceiveFailed);
  length = static_cast<int>(count);
  return kOk;
}

int CSocketClient::ReportError(int code) {
  if (code != kOk && m_traceSink != nullptr) {
    m_traceSink->Write(FormatText("%s (%s)", ErrorText(code).c_str(), m_host.c_str()));
  }
  return code;
}

int CSocketClient::ReportSocketError(int result) {
  if (result != 0 && m_traceSink != nullptr) {
    int error = errno;
    const char* text = std::strerror(error);
    m_traceSink->Write(text != nullptr && *text != '\0' ? std::string(text)
                                                         : FormatText("HRESULT 0x%8.8x", error));
  }
  return result;
}
