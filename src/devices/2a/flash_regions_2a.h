#pragma once
// The 2A interface's own region table: variant 2's flash (variant 1 takes the shared table A,
// devices/downloads/region_table_a.h).

#include "image/flash_region.h"

inline constexpr FlashRegion kFlashRegionsB[] = {
    {0x00000, 0}, {0x04000, 0}, {0x06000, 1}, {0x08000, 1}, {0x10000, 1}, {0x18000, 2},
    {0x20000, 1}, {0x28000, 2}, {0x30000, 1}, {0x38000, 2}, {0x40000, 1}, {0x48000, 2},
    {0x50000, 1}, {0x58000, 2}, {0x60000, 1}, {0x68000, 2}, {0x70000, FLASH_REGION_END},
};
