#pragma once
// The program's wrapper around one POSIX socket: TCP connections with or without a connect
// time-out, blocks of bytes sent and received, readiness waits, UDP sockets bound to a local
// port with datagrams received under a time-out. Every failure is a small error code whose
// text comes from one table (ErrorText); nothing here raises exceptions, the callers decide
// what a person sees.
//
// The raw socket calls sit in CSocketBase as virtual operations, so that a test can replace
// them. Sends use MSG_NOSIGNAL: a peer that closed must never end the program with SIGPIPE.

#include <netinet/in.h>

#include <cstdint>
#include <string>

// Where the socket layer's diagnostic lines go. The program's own sink discards them; a test
// or a person debugging the network installs one that keeps them.
class CNotifySinkTrace {
 public:
  virtual ~CNotifySinkTrace() = default;
  virtual void Write(const std::string& /*text*/) {}
};

class CSocketBase {
 public:
  CSocketBase() = default;
  virtual ~CSocketBase() = default;
  CSocketBase(const CSocketBase&) = delete;
  CSocketBase& operator=(const CSocketBase&) = delete;

  // Runs after a successful connect; anything but 0 is an error code that undoes it.
  virtual int AfterConnect(int socket, const std::string& host);
  virtual int CloseSocketHandle(int socket);
  virtual int ShutdownSocket(int socket, int how);
  virtual int RecvRaw(int socket, void* buffer, int length, int flags);
  virtual int SendRaw(int socket, const void* data, int length, int flags);
  // True when the socket holds received bytes that nobody has read.
  virtual bool HasPendingData(int socket);
};

class CSocketClient : public CSocketBase {
 public:
  static constexpr int kNoSocket = -1;
  static constexpr int kDefaultTimeoutMs = 5000;

  // The error codes the operations return (the table holds the texts of all of them).
  enum Error : int {
    kOk = 0,
    kFailed = 1,
    kTimedOutConnect = 5,
    kNotOpened = 15,
    kAlreadyOpened = 16,
    kCreateFailed = 17,
    kBindFailed = 18,
    kConnectFailed = 19,
    kTimeout = 20,
    kReceiveFailed = 21,
    kSendFailed = 22,
    kBadAddress = 100,
  };

  CSocketClient() = default;
  // An open socket is shut down and closed, the result reported.
  ~CSocketClient() override;

  // Connects to host:port (the remote port field). A time-out of 0 or more seconds bounds the
  // connect; a negative one leaves its length to the system.
  virtual int ConnectTcp(const std::string& host, std::uint16_t port, int timeoutSeconds,
                         int family = AF_INET, int type = SOCK_STREAM);
  // A UDP socket bound to the local port (and address, any when empty); the remote port and
  // address are kept for SendDatagram.
  virtual int OpenDatagram(std::uint16_t localPort, std::uint16_t remotePort,
                           const std::string& remoteAddress, const std::string& localAddress = {});
  virtual int NewSocket(int& socket, int family, int type, int protocol);
  virtual int Disconnect();
  // Hands every byte to the socket; false when the socket reported an error.
  virtual bool SendAll(const std::uint8_t* data, int length);
  // Sends one datagram to the host and remote port; `length` becomes the count sent.
  virtual bool SendDatagram(const std::uint8_t* data, int& length);
  virtual bool WaitWritable(int milliseconds);
  // Receives until `length` bytes arrived, the peer closed, the socket's receive time-out ran
  // out, or (with a time-out above 0 seconds) no byte came within it; returns the count.
  virtual int ReceiveAll(std::uint8_t* buffer, int length, int timeoutSeconds);
  // One receive of up to `length` bytes, after waiting for data when the time-out is above 0.
  virtual int ReceiveSome(std::uint8_t* buffer, int length, int timeoutSeconds);
  // One datagram into the buffer (`length` is its size, then the count received); the
  // sender's address becomes the remote address.
  virtual int ReceiveDatagram(std::uint8_t* buffer, int& length, int timeoutSeconds);
  virtual bool WaitReadable(int milliseconds);
  // Writes "<text> (<host>)" to the trace sink for a code other than 0; returns the code.
  virtual int ReportError(int code);
  // Writes the system's text for the last socket error to the trace sink when `result` is
  // not 0; returns `result`.
  virtual int ReportSocketError(int result);

  void SetNonBlocking(bool nonBlocking);
  void SetReceiveTimeout(int milliseconds) { m_receiveTimeoutMs = milliseconds; }
  void SetSendTimeout(int milliseconds) { m_sendTimeoutMs = milliseconds; }
  CNotifySinkTrace* SetTraceSink(CNotifySinkTrace* sink);
  // The first IPv4 address of `name` as dotted text; empty when it does not resolve.
  static std::string ResolveHost(const std::string& name);
  // The text of an error code.
  static std::string ErrorText(int code);

  bool IsSocketOpen() const { return m_socket != kNoSocket; }
  int Socket() const { return m_socket; }
  const std::string& Host() const { return m_host; }
  void SetHost(const std::string& host) { m_host = host; }
  std::uint16_t RemotePort() const { return m_remotePort; }
  void SetRemotePort(std::uint16_t port) { m_remotePort = port; }
  std::uint16_t LocalPort() const { return m_localPort; }
  // The peer's address in network byte order (the sender of the last datagram received).
  std::uint32_t RemoteAddress() const { return m_remoteAddress.sin_addr.s_addr; }

 private:
  void CloseAfterFailure();
  void ApplyTimeouts();
  void RefreshPorts();
  // select() on the socket alone; true when it is ready.
  bool WaitReady(int milliseconds, bool forWriting);

  std::uint16_t m_remotePort = 0;
  std::uint16_t m_localPort = 0;
  std::string m_host;
  int m_family = AF_INET;
  int m_type = SOCK_STREAM;
  int m_socket = kNoSocket;
  sockaddr_in m_remoteAddress{};
  bool m_nonBlocking = false;
  int m_sendTimeoutMs = kDefaultTimeoutMs;
  int m_receiveTimeoutMs = kDefaultTimeoutMs;
  CNotifySinkTrace* m_traceSink = nullptr;
};
