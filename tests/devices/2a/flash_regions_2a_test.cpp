#include "devices/2a/flash_regions_2a.h"

#include "support/region_table_literal.h"

TEST(FlashRegions2A, TableBHoldsTheseRegions) {
  EXPECT_EQ(PairsOf(kFlashRegionsB),
            (RegionPairs{{0x00000, 0}, {0x04000, 0}, {0x06000, 1}, {0x08000, 1}, {0x10000, 1}, {0x18000, 2},
                         {0x20000, 1}, {0x28000, 2}, {0x30000, 1}, {0x38000, 2}, {0x40000, 1}, {0x48000, 2},
                         {0x50000, 1}, {0x58000, 2}, {0x60000, 1}, {0x68000, 2}, {0x70000, 4}}));
}
