#pragma once
// The request messages the drive takes through its message channel, and the numbers both the
// client and the simulated drive need. Request and answer share one layout, numbers
// little-endian:
//
//   0  1  marker, always 1
//   1  1  message type (EGciType)
//   2  1  flags: 0 in requests; bit 6 (0x40) marks an error answer
//   3  1  handle: slot of the handle table
//   4  4  length of everything after offset 8: 20 plus the payload length
//   8  2  status of an answer (0 = success); 0 in requests
//  10  1  data type of a code value (answers)
//  11  1  0
//  12  4  parameter 1
//  16  4  parameter 2
//  20  4  parameter 3
//  24  4  parameter 4
//  28  n  payload
//
// Code value C, subindex S is the drive object 0x5FFF - C, subindex S; the message channel is
// object 0x2189, subindex 0.

#include <cstddef>
#include <cstdint>
#include <span>

namespace gci {

inline constexpr std::size_t kHeaderSize = 28;
inline constexpr std::uint8_t kMarker = 1;
inline constexpr std::uint8_t kErrorFlag = 0x40;
// Offsets of the header fields.
inline constexpr std::size_t kTypeOffset = 1;
inline constexpr std::size_t kFlagsOffset = 2;
inline constexpr std::size_t kHandleOffset = 3;
inline constexpr std::size_t kLengthOffset = 4;
inline constexpr std::size_t kStatusOffset = 8;
inline constexpr std::size_t kDataTypeOffset = 10;
inline constexpr std::size_t kParameter1Offset = 12;
inline constexpr std::size_t kParameter2Offset = 16;
inline constexpr std::size_t kParameter3Offset = 20;
inline constexpr std::size_t kParameter4Offset = 24;
// The length field counts the parameters and the payload.
inline constexpr std::uint32_t kLengthBase = 20;

// Bounds: an uploaded answer holds at most a header and 1024 data bytes; requests and answers
// for code values and for file operations other than reading and writing fit 1020 bytes;
// string values fit 255 bytes with their terminating zero.
inline constexpr std::size_t kMaxAnswer = 1052;
inline constexpr std::size_t kMessageBuffer = 1020;
inline constexpr std::size_t kStringBuffer = 255;

enum EGciType : std::uint8_t {
  kReadCodeValue = 130,   // never sent: an upload of the code's object
  kWriteCodeValue = 131,  // never sent: an expedited download to the code's object
  kOpenFile = 142,
  kCloseFile = 143,
  kReadFile = 144,
  kWriteFile = 145,
  kGetFileSize = 154,
  kGetSizeDir = 176,
  kGetSegmentSize = 209,
};

// Well-known file numbers in byte 12 of an open or size request; kNamedFile means the name
// follows as the payload.
inline constexpr std::uint8_t kNamedFile = 0x80;

// Object addressing.
inline constexpr std::uint16_t kCodeObjectBase = 0x5FFF;
inline constexpr std::uint16_t kMessageChannelIndex = 0x2189;
constexpr std::uint16_t CodeObjectIndex(int code) { return static_cast<std::uint16_t>(kCodeObjectBase - code); }

// The bus identifier of the drive's request channel for a node.
inline constexpr std::uint16_t kRequestIdentifierBase = 0x600;

// CRC-16/CCITT-FALSE over a block download's whole message: polynomial 0x1021, no reflection,
// no final XOR; "123456789" gives 0x29B1.
inline constexpr std::uint16_t kCrcInitialValue = 0xFFFF;
constexpr std::uint16_t Crc16(std::span<const std::uint8_t> data, std::uint16_t crc = kCrcInitialValue) {
  for (std::uint8_t byte : data) {
    crc ^= static_cast<std::uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) != 0 ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021) : static_cast<std::uint16_t>(crc << 1);
    }
  }
  return crc;
}

}  // namespace gci
