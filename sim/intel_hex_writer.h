#pragma once
// Writes byte-addressed Intel HEX text: data records of up to 32 bytes, an extended address
// record whenever a record would leave the 64 KiB window of the current base, and the
// end-of-file record.
//
//   CIntelHexWriter hex;
//   hex.Data(0x00000, firstBlocks);
//   hex.SetAddressRecords(CIntelHexWriter::EAddressRecord::Segment);
//   hex.Data(0x8C000, moreBytes);   // after an extended segment address record 8C00
//   std::string text = hex.Finish();

#include <cstdint>
#include <span>
#include <string>

class CIntelHexWriter {
 public:
  // How a new base address is announced: type 4 (extended linear, base = value << 16) or
  // type 2 (extended segment, base = value << 4, which reaches up to about 1 MiB).
  enum class EAddressRecord { Linear, Segment };

  static constexpr std::size_t kRecordBytes = 32;

  void SetAddressRecords(EAddressRecord kind) { m_addressRecords = kind; }
  // Appends `bytes` at `address`, as many data records as they need.
  void Data(std::uint32_t address, std::span<const std::uint8_t> bytes);
  // Appends the end-of-file record and returns the whole text.
  std::string Finish();

 private:
  void Record(std::uint8_t type, std::uint16_t address, std::span<const std::uint8_t> data);
  // Announces a base whose window holds `address`.
  void MoveBase(std::uint32_t address);

  std::string m_text;
  std::uint32_t m_base = 0;
  EAddressRecord m_addressRecords = EAddressRecord::Linear;
};
