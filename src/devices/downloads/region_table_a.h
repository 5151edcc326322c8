#pragma once
// Region table A, the segment download's table for the bootloaders of the 1A and 1Z
// interfaces and of the 2A interface's variant 1. It stands beside the download they share, so
// each of those families reaches it without naming another.

#include "image/flash_region.h"

inline constexpr FlashRegion kFlashRegionsA[] = {
    {0x00000, 0}, {0x04000, 1}, {0x06000, 1}, {0x08000, 1},
    {0x10000, 1}, {0x20000, 1}, {0x30000, 0}, {0x40000, FLASH_REGION_END},
};
