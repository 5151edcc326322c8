#include "sim/devices/automotive/s_record.h"

#include <stdexcept>

#include "platform/text_format.h"

namespace {

std::optional<std::uint8_t> HexByte(std::string_view text, std::size_t at) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  if (at + 2 > text.size()) return std::nullopt;
  int high = digit(text[at]);
  int low = digit(text[at + 1]);
  if (high < 0 || low < 0) return std::nullopt;
  return static_cast<std::uint8_t>(high << 4 | low);
}

}  // namespace

unsigned SRecordAddressSize(char type) {
  switch (type) {
    case '0': case '1': case '5': case '9': return 2;
    case '2': case '6': case '8': return 3;
    case '3': case '7': return 4;
    default: return 0;
  }
}

std::optional<std::size_t> SRecordLength(std::string_view text) {
  if (text.size() < 4 || text[0] != 'S' || text[1] < '0' || text[1] > '9') return std::nullopt;
  std::optional<std::uint8_t> count = HexByte(text, 2);
  if (!count) return std::nullopt;
  return 4 + 2 * std::size_t{*count};
}

std::string WriteSRecord(char type, std::uint32_t address, std::span<const std::uint8_t> data) {
  const unsigned addressSize = SRecordAddressSize(type);
  const std::size_t count = addressSize + data.size() + 1;
  if (addressSize == 0 || count > 0xFF) throw std::invalid_argument("no such S-record");
  std::string line = FormatText("S%c%02X", type, static_cast<unsigned>(count));
  unsigned sum = static_cast<unsigned>(count);
  for (unsigned i = addressSize; i-- > 0;) {
    const unsigned byte = (address >> (8 * i)) & 0xFF;
    line += FormatText("%02X", byte);
    sum += byte;
  }
  for (std::uint8_t byte : data) {
    line += FormatText("%02X", byte);
    sum += byte;
  }
  return line + FormatText("%02X", ~sum & 0xFF);
}

std::optional<CSRecord> ParseSRecord(std::string_view line) {
  std::optional<std::size_t> length = SRecordLength(line);
  if (!length || *length != line.size()) return std::nullopt;
  CSRecord record;
  record.Type = line[1];
  const unsigned addressSize = SRecordAddressSize(record.Type);
  const std::size_t count = (line.size() - 4) / 2;
  if (addressSize == 0 || count < addressSize + 1) return std::nullopt;
  unsigned sum = static_cast<unsigned>(count);
  std::vector<std::uint8_t> bytes;
  for (std::size_t at = 4; at < line.size(); at += 2) {
    std::optional<std::uint8_t> byte = HexByte(line, at);
    if (!byte) return std::nullopt;
    bytes.push_back(*byte);
  }
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
  if ((~sum & 0xFF) != bytes.back()) return std::nullopt;
  for (unsigned i = 0; i < addressSize; ++i) record.Address = record.Address << 8 | bytes[i];
  record.Data.assign(bytes.begin() + addressSize, bytes.end() - 1);
  return record;
}
