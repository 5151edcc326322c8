#include "devices/servo/flash_regions_servo.h"

#include "support/region_table_literal.h"

TEST(FlashRegionsServo, HoldsTheseRegions) {
  EXPECT_EQ(PairsOf(kFlashRegionsServo), (RegionPairs{{0x00000, 0}, {0x04000, 0}, {0x06000, 1}, {0x08000, 1},
                                                      {0x10000, 1}, {0x20000, 1}, {0x30000, 0}, {0x40000, 4}}));
}
