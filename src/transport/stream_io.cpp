#include "transport/stream_io.h"

int CStreamIO::QueryInitFailure(bool, bool) { return kSimulate; }

std::uint16_t CStreamIO::ReadWord() {
  std::uint8_t bytes[2] = {};
  Read(bytes, 2);
  return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

std::uint32_t CStreamIO::ReadDWord() {
  std::uint8_t bytes[4] = {};
  Read(bytes, 4);
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

std::string CStreamIO::ReadString() {
  std::string text;
  if (!IsOpen()) return text;
  for (;;) {
    std::uint8_t byte = 0;
    Read(&byte, 1);
    if (byte == 0) return text;
    if (text.size() >= kMaxStringLength) ThrowStreamException(0);
    text += static_cast<char>(byte);
  }
}

std::uint8_t CStreamIO::ReadByte() {
  std::uint8_t byte = 0;
  Read(&byte, 1);
  return byte;
}

void CStreamIO::WriteByte(std::uint8_t value) { Write(&value, 1); }

void CStreamIO::WriteDWord(std::uint32_t value) {
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value >> 24),
                                 static_cast<std::uint8_t>(value >> 16),
                                 static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value)};
  Write(bytes, 4);
}

void CStreamIO::WriteDWordLowHalfFirst(std::uint32_t value) {
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value),
                                 static_cast<std::uint8_t>(value >> 24),
                                 static_cast<std::uint8_t>(value >> 16)};
  Write(bytes, 4);
}

void CStreamIO::ExpectAck() {
  if (!IsOpen()) return;
  if (ReadByte() != kAck) {
    ClearInput();
    ThrowStreamException(kNotAcceptedMessage);
  }
}

void CStreamIO::DrainInput() {
  unsigned count = GetInputCount();
  if (count == 0) return;
  for (unsigned i = 0; i < count; ++i) ReadByte();
  ClearInput();
}

int CStreamIO::ReleaseOpen() {
  if (m_openCount > 0) --m_openCount;
  return m_openCount > 0 ? m_openCount : 0;
}

void CStreamIO::ThrowStreamException(int messageId) { throw CStreamException(messageId); }
