#pragma once
// S-records, the text the trainer's loader takes its firmware in: one record per
// line, "S", the type digit, the count of the bytes that follow (address, data, checksum) as
// two hexadecimal digits, the address (2 bytes for S0, S1, S5, S9; 3 for S2, S6, S8; 4 for S3,
// S7), the data, and the checksum: the ones' complement of the low byte of the sum of the
// count, address and data bytes. Upper-case hexadecimal is written; either case is read.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct CSRecord {
  char Type = '0';  // '0'..'9'
  std::uint32_t Address = 0;
  std::vector<std::uint8_t> Data;
};

// The address bytes of a record type; 0 for a type that does not exist ('4' and non-digits).
unsigned SRecordAddressSize(char type);
// The characters the record at the start of `text` has in all, read from its count field;
// nothing when `text` does not begin with "S", a digit and two hexadecimal digits.
std::optional<std::size_t> SRecordLength(std::string_view text);
// One record without line end; `type` must exist and the data fit the count byte.
std::string WriteSRecord(char type, std::uint32_t address, std::span<const std::uint8_t> data);
// The record `line` holds, when it is exactly one well-formed record with a right checksum.
std::optional<CSRecord> ParseSRecord(std::string_view line);
