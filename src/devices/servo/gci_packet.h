#pragma once
// One request or answer message of the drive's message channel as bytes (layout in
// gci_message.h). Requests are built here with their header filled in; answers arrive as the
// bytes the drive uploaded and are read only after IsWellFormed said that the header and the
// payload its length field claims are all there.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "devices/servo/gci_message.h"

class CGciPacket {
 public:
  CGciPacket() = default;
  explicit CGciPacket(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}

  // A request of `type` in `handle`'s slot with room for `payloadSize` payload bytes: marker,
  // type, handle and length set, everything else 0.
  static CGciPacket Request(gci::EGciType type, std::uint8_t handle, std::size_t payloadSize);

  // At least a header, and the payload the length field claims is held whole.
  bool IsWellFormed() const;

  std::uint8_t Type() const { return Byte(gci::kTypeOffset); }
  std::uint8_t Flags() const { return Byte(gci::kFlagsOffset); }
  std::uint8_t Handle() const { return Byte(gci::kHandleOffset); }
  std::uint16_t Status() const { return static_cast<std::uint16_t>(Number(gci::kStatusOffset, 2)); }
  std::uint8_t DataType() const { return Byte(gci::kDataTypeOffset); }
  // The payload as the length field counts it (only for a well-formed packet).
  std::span<const std::uint8_t> Payload() const;

  std::uint8_t Byte(std::size_t offset) const { return m_bytes.at(offset); }
  void SetByte(std::size_t offset, std::uint8_t value) { m_bytes.at(offset) = value; }
  // Little-endian numbers of `width` bytes (1..4).
  std::uint32_t Number(std::size_t offset, std::size_t width = 4) const;
  void SetNumber(std::size_t offset, std::uint32_t value, std::size_t width = 4);
  // Copies `bytes` into the payload, from its start.
  void SetPayload(std::span<const std::uint8_t> bytes);

  const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }
  std::size_t Size() const { return m_bytes.size(); }

 private:
  std::vector<std::uint8_t> m_bytes;
};
