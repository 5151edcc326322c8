#pragma once
// Little-endian numbers inside the drive's frames and request messages.

#include <cstddef>
#include <cstdint>
#include <span>

inline std::uint32_t SimServoGet(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t size = 4) {
  std::uint32_t value = 0;
  for (std::size_t i = size; i-- > 0;) value = value << 8 | bytes[at + i];
  return value;
}

inline void SimServoPut(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value, std::size_t size = 4) {
  for (std::size_t i = 0; i < size; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
