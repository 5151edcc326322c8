#pragma once
// Test helpers for image files: builders for Intel HEX lines and segment file records written
// independently of the readers under test, and the tests' temporary folder.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace image_test {

// One HEX record line, without its line end: ":" count, address, type, data, checksum.
inline std::string HexLine(int type, unsigned address, const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(data.size()),
                                  static_cast<std::uint8_t>(address >> 8),
                                  static_cast<std::uint8_t>(address & 0xFF),
                                  static_cast<std::uint8_t>(type)};
  bytes.insert(bytes.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  bytes.push_back(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
  std::string line = ":";
  char hex[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
  }
  return line;
}

inline std::string HexData(unsigned address, const std::vector<std::uint8_t>& data) {
  return HexLine(0, address, data);
}
inline std::string HexExtLinear(unsigned value) {
  return HexLine(4, 0, {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}
inline std::string HexExtSegment(unsigned value) {
  return HexLine(2, 0, {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}
inline const std::string kHexEof = ":00000001FF";

// Joins lines with `end` after each.
inline std::string Lines(const std::vector<std::string>& lines, const std::string& end = "\n") {
  std::string text;
  for (const auto& line : lines) text += line + end;
  return text;
}

// One segment file record: little-endian address and length, then the data.
inline std::string SegmentRecord(std::uint32_t address, const std::vector<std::uint8_t>& data) {
  std::string record;
  auto put32 = [&record](std::uint32_t value) {
    for (int i = 0; i < 4; ++i) record += static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  put32(address);
  put32(static_cast<std::uint32_t>(data.size()));
  record.append(data.begin(), data.end());
  return record;
}

inline std::vector<std::uint8_t> Bytes(std::size_t count, std::uint8_t value) {
  return std::vector<std::uint8_t>(count, value);
}

// Bytes counting up from `first`, wrapping at 256.
inline std::vector<std::uint8_t> Counting(std::size_t count, std::uint8_t first = 0) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}

}  // namespace image_test
