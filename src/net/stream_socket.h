#pragma once
// A TCP connection as a byte-stream transport, so that device protocols written for USB run
// over the network: CStreamSocket carries the device's bytes as they are; CStreamSocketUsb
// talks to a remote device server that holds a USB device, with every transport operation a
// small framed request. Both ask the "Server Login" dialog when the connection cannot be
// opened.
//
// Remote device frames: an 8-byte little-endian header (type 1 read, 2 write, 3 open,
// 4 close; two reserved bytes; the length), the open header followed by a 518-byte record
// (1, product, user mode, a reserved byte, the device name in UTF-16LE with its terminator in
// 512 bytes), answered by 260 bytes whose 16-bit value at offset 258 is the status (0 opened).

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "net/socket_client.h"
#include "transport/stream_io.h"

class CStreamSocket : public CStreamIO, public CSocketClient {
 public:
  static constexpr unsigned kWriteBufferSize = 4095;
  static constexpr int kConnectTimeoutSeconds = 5;
  static constexpr int kReadError = 20020;
  static constexpr int kSocketInitMessage = 20017;

  CStreamSocket() = default;
  // The last open is released and the connection closed.
  ~CStreamSocket() override;

  // The "Server Login" dialog with this stream's host and port; Repeat takes the edited ones.
  int QueryInitFailure(bool allowSimulation, bool allowExit) override;
  bool Open() override;
  void Close() override;
  bool IsOpen() const override { return IsSocketOpen(); }
  // Exactly `count` bytes; fewer (a closed connection, the receive time-out) raise 20020.
  void Read(std::uint8_t* buffer, unsigned count) override;
  void Write(const std::uint8_t* buffer, unsigned count) override;
  void ClearInput() override;
  unsigned GetInputCount() override { return 0; }
  void BeginWriteBuffer() override { m_buffering = true; }
  void EndWriteBuffer() override;
  bool ResetDevice() override;

  unsigned BufferedCount() const { return m_bufferedCount; }

 protected:
  // Connects with the given connect time-out (seconds, negative for the system's own);
  // false, disconnected, on a failure. (POSIX sockets need no start-up, so the message
  // for a socket layer that cannot be initialised never arises here.)
  bool Connect(int timeoutSeconds);
  // The bytes leave as one piece (a plain send here, one write request remotely).
  virtual void SendUnbuffered(const std::uint8_t* buffer, unsigned count);

 private:
  bool m_buffering = false;
  std::array<std::uint8_t, kWriteBufferSize> m_buffer{};
  unsigned m_bufferedCount = 0;
};

class CStreamSocketUsb : public CStreamSocket {
 public:
  enum RequestType : std::uint16_t { kRead = 1, kWrite = 2, kOpen = 3, kClose = 4 };
  static constexpr unsigned kHeaderSize = 8;
  static constexpr unsigned kOpenRecordSize = 518;
  static constexpr unsigned kOpenAnswerSize = 260;
  static constexpr unsigned kStatusOffset = 258;
  static constexpr unsigned kMaxNameUnits = 255;  // and the terminator: 512 bytes
  static constexpr int kNoInterfaceMessage = 20006;

  // Reads the device's section of the device manager settings; without one the host stays
  // empty and the port 0, so that Open fails.
  explicit CStreamSocketUsb(std::string deviceKey);
  // The last open is released: the close request goes out, the connection is closed.
  ~CStreamSocketUsb() override;

  // As the plain stream's; a retry also stores the new address and port in the settings.
  int QueryInitFailure(bool allowSimulation, bool allowExit) override;
  bool Open() override;
  void Close() override;
  void Read(std::uint8_t* buffer, unsigned count) override;

  const std::string& DeviceName() const { return m_deviceName; }
  std::uint16_t Product() const { return m_product; }
  std::uint8_t UserMode() const { return m_userMode; }

  static std::array<std::uint8_t, kHeaderSize> Header(RequestType type, std::uint32_t length);
  // The open record for a device name (UTF-8 in, UTF-16LE out; cut to 255 units).
  static std::array<std::uint8_t, kOpenRecordSize> OpenRecord(const std::string& deviceName,
                                                              std::uint16_t product,
                                                              std::uint8_t userMode);

 protected:
  void SendUnbuffered(const std::uint8_t* buffer, unsigned count) override;

 private:
  void SendCloseAndDisconnect();

  std::string m_deviceKey;
  std::string m_deviceName;
  std::uint16_t m_product = 0;
  std::uint8_t m_userMode = 0;
};
