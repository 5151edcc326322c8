#pragma once
// A host on the emulated bus written straight from the bus contract, with nothing of the
// program's USB transport: connect to a device socket, send and receive length-prefixed
// frames, eject. Every wait is bounded; a test fails rather than hangs.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <vector>

class CRawUsbPeer {
 public:
  static constexpr std::chrono::milliseconds kBound{5000};

  CRawUsbPeer() = default;
  ~CRawUsbPeer();
  CRawUsbPeer(const CRawUsbPeer&) = delete;
  CRawUsbPeer& operator=(const CRawUsbPeer&) = delete;

  // False when the connect fails (no socket, nobody listening); Error() says why.
  bool Connect(const std::filesystem::path& socket);
  int Error() const { return m_error; }
  void Close();
  bool IsConnected() const { return m_fd >= 0; }

  // One frame: 16-bit little-endian length, then the bytes.
  void SendFrame(const std::vector<std::uint8_t>& bytes);
  // Bytes as they are, for frames split across several socket writes.
  void SendRaw(const std::vector<std::uint8_t>& bytes);
  // The reset request: the frame length 0xFFFF alone.
  void SendEject();

  enum class EReceive { Frame, Closed, Timeout };
  EReceive Receive(std::vector<std::uint8_t>& frame, std::chrono::milliseconds bound = kBound);
  // The next frame; a test failure (and an empty result) when none comes.
  std::vector<std::uint8_t> ReceiveFrame();
  // Whether anything can be read right now, without waiting.
  bool HasPendingData() const;
  // Waits until the device closes the connection, discarding frames; false on time-out.
  bool WaitClosed(std::chrono::milliseconds bound = kBound);

 private:
  bool ReceiveExactly(std::uint8_t* buffer, std::size_t count,
                      std::chrono::steady_clock::time_point deadline, EReceive& failure);

  int m_fd = -1;
  int m_error = 0;
};
