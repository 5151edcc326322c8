#pragma once
// Flash region tables: where the flash of a device family is cut into segments, and which
// segments are sent. Entry i covers the addresses from its start up to, not including, the
// start of entry i + 1; the entry of kind FLASH_REGION_END only marks the end of the covered
// space. Byte addresses for the segment files, word addresses for the word images. Each
// table lives with the device family that uses it (src/devices/<family>/), a table that several
// families share with their shared download (src/devices/downloads/).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

struct FlashRegion {
  std::uint32_t Start;
  std::uint16_t Kind;
};

using FlashRegionTable = std::span<const FlashRegion>;

// Kinds: 0 never sent; 1 and 2 sent, the value goes to the device with the segment.
constexpr std::uint16_t FLASH_REGION_NOT_SENT = 0;
// Marks the last entry of every table.
constexpr std::uint16_t FLASH_REGION_END = 4;

// The entry whose region holds `address`, walking from the first entry up to the end mark;
// nothing when the address lies below the first start or at or above the end mark.
std::optional<std::size_t> FindFlashRegion(FlashRegionTable table, std::uint32_t address);
