#include "sim/intel_hex_writer.h"

#include <algorithm>
#include <stdexcept>

namespace {

constexpr std::uint32_t kWindow = 0x10000;
constexpr char kDigits[] = "0123456789ABCDEF";

void AppendHexByte(std::string& text, std::uint8_t value) {
  text += kDigits[value >> 4];
  text += kDigits[value & 0x0F];
}

}  // namespace

void CIntelHexWriter::Data(std::uint32_t address, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    if (address < m_base || address - m_base >= kWindow) MoveBase(address);
    std::uint32_t offset = address - m_base;
    std::size_t count = std::min<std::size_t>({kRecordBytes, bytes.size(), kWindow - offset});
    Record(0x00, static_cast<std::uint16_t>(offset), bytes.first(count));
    bytes = bytes.subspan(count);
    address += static_cast<std::uint32_t>(count);
  }
}

std::string CIntelHexWriter::Finish() {
  Record(0x01, 0, {});
  return std::move(m_text);
}

void CIntelHexWriter::MoveBase(std::uint32_t address) {
  std::uint32_t value = 0;
  std::uint8_t type = 0;
  if (m_addressRecords == EAddressRecord::Linear) {
    m_base = address & 0xFFFF0000u;
    value = address >> 16;
    type = 0x04;
  } else {
    value = address >> 4;
    if (value > 0xFFFF) throw std::out_of_range("address beyond the reach of a segment base");
    m_base = value << 4;
    type = 0x02;
  }
  const std::uint8_t data[] = {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
  Record(type, 0, data);
}

void CIntelHexWriter::Record(std::uint8_t type, std::uint16_t address, std::span<const std::uint8_t> data) {
  const std::uint8_t header[] = {static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
                                 static_cast<std::uint8_t>(address), type};
  std::uint8_t sum = 0;
  m_text += ':';
  for (std::uint8_t byte : header) {
    AppendHexByte(m_text, byte);
    sum = static_cast<std::uint8_t>(sum + byte);
  }
  for (std::uint8_t byte : data) {
    AppendHexByte(m_text, byte);
    sum = static_cast<std::uint8_t>(sum + byte);
  }
  AppendHexByte(m_text, static_cast<std::uint8_t>(-sum));
  m_text += '\n';
}
