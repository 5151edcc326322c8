#include "devices/c28xx/flash_regions_c28xx.h"

#include "support/region_table_literal.h"

TEST(FlashRegionsC28xx, HoldsTheseWordRegions) {
  EXPECT_EQ(PairsOf(kFlashRegionsC28xx),
            (RegionPairs{{0x300000, 1}, {0x304000, 2}, {0x308000, 1}, {0x30C000, 2}, {0x310000, 1}, {0x314000, 2},
                         {0x318000, 1}, {0x31C000, 2}, {0x320000, 1}, {0x324000, 2}, {0x328000, 1}, {0x32C000, 2},
                         {0x330000, 0}, {0x334000, 0}, {0x338000, 0}, {0x33C000, 0}, {0x340000, 4}}));
}
