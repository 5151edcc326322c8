#pragma once
// The servo trainer's control unit: table A with the region at 0x04000 not sent.

#include "image/flash_region.h"

inline constexpr FlashRegion kFlashRegionsServo[] = {
    {0x00000, 0}, {0x04000, 0}, {0x06000, 1}, {0x08000, 1},
    {0x10000, 1}, {0x20000, 1}, {0x30000, 0}, {0x40000, FLASH_REGION_END},
};
