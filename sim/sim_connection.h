#pragma once
// What a device program sees of one connection: the host's OUT frames as a byte stream (with
// their boundaries when a protocol cares), IN packets of at most 64 bytes, acknowledgements
// that go through the fault plan, and waits on the clock in use.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CSimDevice;

// The connection is gone: the host closed it, or the device dropped it (eject, a fault, the
// server stopping). It ends the device program; a program need not catch it.
class CSimDisconnected : public std::exception {
 public:
  const char* what() const noexcept override { return "connection closed"; }
};

class CSimConnection {
 public:
  static constexpr std::size_t kMaxOutFrame = 256;  // host -> device
  static constexpr std::size_t kMaxInPacket = 64;   // device -> host
  static constexpr std::uint16_t kEjectLength = 0xFFFF;

  // `fd` stays owned by the caller (the device server).
  CSimConnection(CSimDevice& device, int fd, std::uint32_t id);

  CSimDevice& Device() { return m_device; }
  std::uint32_t Id() const { return m_id; }

  // --- host -> device
  // Exactly n bytes, over as many frames as it takes (empty frames are skipped).
  std::vector<std::uint8_t> ReadBytes(std::size_t n);
  std::uint8_t ReadByte();
  // The rest of the current frame, or the whole next frame when the current one is used up
  // (an empty frame is returned as empty).
  std::vector<std::uint8_t> ReadFrame();
  // n bytes that must have come as exactly one frame of their own (a protocol in which "the
  // header leaves as one packet"). They are returned in any case, read over frames like
  // ReadBytes, so the device stays in step; a mismatch is reported as a violation.
  std::vector<std::uint8_t> ReadPacket(std::size_t n);
  // True when no byte of the current frame is consumed yet (the next read starts a frame).
  bool AtFrameStart() const { return m_position == 0 || m_position >= m_frame.size(); }
  std::size_t BytesLeftInFrame() const { return m_frame.size() - m_position; }

  // --- device -> host
  // The bytes as IN packets of at most 64 bytes (nothing for no bytes).
  void WriteBytes(std::span<const std::uint8_t> bytes);
  void WriteBytes(std::initializer_list<std::uint8_t> bytes);
  // The text's bytes, then a terminating zero, as one WriteBytes.
  void WriteString(std::string_view text);
  // Exactly one IN packet (0..64 bytes; longer is a programming error: std::invalid_argument).
  void WritePacket(std::span<const std::uint8_t> bytes);
  // One packet of any length the bus can frame, also longer than 64 bytes as no working device
  // sends it: for tests of what the host does with such a device.
  void WriteOversizedPacket(std::span<const std::uint8_t> bytes);
  // The acknowledgement as one packet: "!" unless the fault plan refuses this one, then "?".
  // True when "!" was sent.
  bool Acknowledge();
  // The byte of the next acknowledgement, counted like Acknowledge, for a family that sends
  // it inside a longer packet.
  std::uint8_t NextAcknowledgement();
  // A refusal "?" of the device's own.
  void Refuse();

  // A device-side wait on the clock in use (virtual in tests, scaled in a simulated setup).
  void Wait(std::uint32_t milliseconds);

  // True once the stall fault fired on this connection: nothing the device sends goes out.
  bool Stalled() const { return m_stalled; }

  // A protocol violation by the host, kept by the device and written to the transcript.
  void ReportViolation(const std::string& text);

  // --- for the device server
  // Waits for the first frame. False when none comes: a probe open, or an eject request.
  bool Begin();
  // Reads and records what the host still sends until it closes (a stalled or finished device).
  void DrainUntilClosed();
  bool EjectRequested() const { return m_ejectRequested; }
  bool ClosedByDevice() const { return m_closedByDevice; }

 private:
  void FetchFrame();
  bool ReceiveExactly(std::uint8_t* buffer, std::size_t count);
  void SendFrame(std::span<const std::uint8_t> bytes);
  void DropByDevice(const std::string& why);
  [[noreturn]] void Stall(std::size_t withheld);

  CSimDevice& m_device;
  int m_fd;
  std::uint32_t m_id;
  std::vector<std::uint8_t> m_frame;
  std::size_t m_position = 0;
  bool m_closed = false;
  bool m_stalled = false;
  bool m_ejectRequested = false;
  bool m_closedByDevice = false;
};
