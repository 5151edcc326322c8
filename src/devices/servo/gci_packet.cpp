#include "devices/servo/gci_packet.h"

#include <algorithm>
#include <stdexcept>

CGciPacket CGciPacket::Request(gci::EGciType type, std::uint8_t handle, std::size_t payloadSize) {
  CGciPacket packet(std::vector<std::uint8_t>(gci::kHeaderSize + payloadSize, 0));
  packet.SetByte(0, gci::kMarker);
  packet.SetByte(gci::kTypeOffset, type);
  packet.SetByte(gci::kHandleOffset, handle);
  packet.SetNumber(gci::kLengthOffset, static_cast<std::uint32_t>(gci::kLengthBase + payloadSize));
  return packet;
}

bool CGciPacket::IsWellFormed() const {
  if (m_bytes.size() < gci::kHeaderSize) return false;
  const std::uint32_t length = Number(gci::kLengthOffset);
  if (length < gci::kLengthBase) return false;
  // Compared without adding to the drive's number, so that no claim can wrap around.
  return length - gci::kLengthBase <= m_bytes.size() - gci::kHeaderSize;
}

std::span<const std::uint8_t> CGciPacket::Payload() const {
  if (!IsWellFormed()) return {};
  return std::span<const std::uint8_t>(m_bytes).subspan(gci::kHeaderSize, Number(gci::kLengthOffset) - gci::kLengthBase);
}

std::uint32_t CGciPacket::Number(std::size_t offset, std::size_t width) const {
  if (offset + width > m_bytes.size()) throw std::out_of_range("GCI field outside the message");
  std::uint32_t value = 0;
  for (std::size_t i = width; i-- > 0;) value = (value << 8) | m_bytes[offset + i];
  return value;
}

void CGciPacket::SetNumber(std::size_t offset, std::uint32_t value, std::size_t width) {
  if (offset + width > m_bytes.size()) throw std::out_of_range("GCI field outside the message");
  for (std::size_t i = 0; i < width; ++i) m_bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void CGciPacket::SetPayload(std::span<const std::uint8_t> bytes) {
  if (gci::kHeaderSize + bytes.size() > m_bytes.size()) throw std::out_of_range("GCI payload larger than the message");
  std::copy(bytes.begin(), bytes.end(), m_bytes.begin() + gci::kHeaderSize);
}
