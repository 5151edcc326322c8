#pragma once
// Flash region tables: where the flash of a device family is cut into segments, and which
// segments are sent. Entry i covers the addresses from its start up to, not including, the
// start of entry i + 1; the entry of kind FLASH_REGION_END only marks the end of the covered
// space. Byte addresses for the segment files, word addresses for the C28xx table.

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

// Interfaces 1A and 1Z, and 2A variant 1.
inline constexpr FlashRegion kFlashRegionsA[] = {
    {0x00000, 0}, {0x04000, 1}, {0x06000, 1}, {0x08000, 1},
    {0x10000, 1}, {0x20000, 1}, {0x30000, 0}, {0x40000, FLASH_REGION_END},
};

// 2A variant 2.
inline constexpr FlashRegion kFlashRegionsB[] = {
    {0x00000, 0}, {0x04000, 0}, {0x06000, 1}, {0x08000, 1}, {0x10000, 1}, {0x18000, 2},
    {0x20000, 1}, {0x28000, 2}, {0x30000, 1}, {0x38000, 2}, {0x40000, 1}, {0x48000, 2},
    {0x50000, 1}, {0x58000, 2}, {0x60000, 1}, {0x68000, 2}, {0x70000, FLASH_REGION_END},
};

// The servo trainer's control unit: table A with the region at 0x04000 not sent.
inline constexpr FlashRegion kFlashRegionsServo[] = {
    {0x00000, 0}, {0x04000, 0}, {0x06000, 1}, {0x08000, 1},
    {0x10000, 1}, {0x20000, 1}, {0x30000, 0}, {0x40000, FLASH_REGION_END},
};

// The C28xx word image: sixteen regions of 0x4000 words from 0x300000, kinds 1 and 2
// alternating up to 0x32FFFF, the four regions above never written.
inline constexpr FlashRegion kFlashRegionsC28xx[] = {
    {0x300000, 1}, {0x304000, 2}, {0x308000, 1}, {0x30C000, 2},
    {0x310000, 1}, {0x314000, 2}, {0x318000, 1}, {0x31C000, 2},
    {0x320000, 1}, {0x324000, 2}, {0x328000, 1}, {0x32C000, 2},
    {0x330000, 0}, {0x334000, 0}, {0x338000, 0}, {0x33C000, 0},
    {0x340000, FLASH_REGION_END},
};
