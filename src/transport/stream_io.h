#pragma once
// The byte-stream transport every device protocol object talks through: open and close with
// an open count, blocking reads and writes of byte blocks, a local input buffer, an optional
// write-collecting mode, a device reset, and the question what to do when the transport could
// not be opened. Transfer errors are raised as CStreamException, never returned.
//
// Multi-byte values on the device links are big-endian unless a protocol says otherwise; the
// acknowledgement byte is "!" (0x21), a refusal "?" (0x3F).

#include <cstddef>
#include <cstdint>
#include <string>

#include "transport/stream_exception.h"

class CStreamIO {
 public:
  // Answers of QueryInitFailure (and results of the "Interface" dialog).
  static constexpr int kRetry = 4;
  static constexpr int kSimulate = 6;
  static constexpr int kExit = 2;

  static constexpr std::uint8_t kAck = 0x21;      // "!"
  // "The interface did not accept the command sended.": a device that refused a step.
  static constexpr int kNotAcceptedMessage = 20016;
  static constexpr std::uint8_t kRefusal = 0x3F;  // "?"
  // The longest text ReadString takes before it gives the device up as broken.
  static constexpr std::size_t kMaxStringLength = 4096;

  CStreamIO() = default;
  virtual ~CStreamIO() = default;
  CStreamIO(const CStreamIO&) = delete;
  CStreamIO& operator=(const CStreamIO&) = delete;

  // What to do after a failed open: kRetry, kSimulate or kExit. Nobody is asked here: 6.
  virtual int QueryInitFailure(bool allowSimulation, bool allowExit);
  // Opens the transport; on success (also when already open) the open count goes up by one.
  virtual bool Open() = 0;
  // Releases one open; the connection goes when the count reaches 0.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Blocks until exactly `count` bytes were read; raises CStreamException on a transfer error.
  virtual void Read(std::uint8_t* buffer, unsigned count) = 0;
  // Sends `count` bytes (or collects them, see BeginWriteBuffer); raises on a transfer error.
  virtual void Write(const std::uint8_t* buffer, unsigned count) = 0;
  // Discards the received bytes the transport holds and nobody has read.
  virtual void ClearInput() = 0;
  // The number of received bytes held locally and not read yet.
  virtual unsigned GetInputCount() = 0;
  // From now on Write collects bytes instead of sending each call on its own.
  virtual void BeginWriteBuffer() = 0;
  // Leaves the collecting mode and sends what was collected.
  virtual void EndWriteBuffer() = 0;
  // Closes the transport, makes the device start again and waits for it; true when done.
  virtual bool ResetDevice() = 0;

  // Framing helpers, built only on the operations above.
  std::uint16_t ReadWord();
  std::uint32_t ReadDWord();
  // Single bytes up to a zero byte (consumed, not kept), each kept as the character with the
  // same code. Empty when the transport is not open. A device that sends more than
  // kMaxStringLength bytes without the zero raises 20011 instead of filling memory.
  std::string ReadString();
  std::uint8_t ReadByte();
  void WriteByte(std::uint8_t value);
  void WriteDWord(std::uint32_t value);
  // Each 16-bit half big-endian, the low half first: 0x0800C000 goes out as C0 00 08 00.
  void WriteDWordLowHalfFirst(std::uint32_t value);
  // Reads one byte when open; anything but "!" clears the input and raises 20016.
  void ExpectAck();
  // Reads and drops the bytes held locally, then clears the input.
  void DrainInput();
  // Lowers the open count when it is above 0; returns the count (0 when it already was 0).
  int ReleaseOpen();
  [[noreturn]] static void ThrowStreamException(int messageId);

  int OpenCount() const { return m_openCount; }

 protected:
  void AddOpen() { ++m_openCount; }

 private:
  int m_openCount = 0;
};
