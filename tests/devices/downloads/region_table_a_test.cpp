#include "devices/downloads/region_table_a.h"

#include "support/region_table_literal.h"

TEST(RegionTableA, HoldsTheseRegions) {
  EXPECT_EQ(PairsOf(kFlashRegionsA), (RegionPairs{{0x00000, 0}, {0x04000, 1}, {0x06000, 1}, {0x08000, 1},
                                                  {0x10000, 1}, {0x20000, 1}, {0x30000, 0}, {0x40000, 4}}));
}
