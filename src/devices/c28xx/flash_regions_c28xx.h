#pragma once
// The C28xx word image: sixteen regions of 0x4000 words from 0x300000, kinds 1 and 2
// alternating up to 0x32FFFF, the four regions above never written.

#include "image/flash_region.h"

inline constexpr FlashRegion kFlashRegionsC28xx[] = {
    {0x300000, 1}, {0x304000, 2}, {0x308000, 1}, {0x30C000, 2},
    {0x310000, 1}, {0x314000, 2}, {0x318000, 1}, {0x31C000, 2},
    {0x320000, 1}, {0x324000, 2}, {0x328000, 1}, {0x32C000, 2},
    {0x330000, 0}, {0x334000, 0}, {0x338000, 0}, {0x33C000, 0},
    {0x340000, FLASH_REGION_END},
};
