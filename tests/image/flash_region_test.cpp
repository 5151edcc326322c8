#include "image/flash_region.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct NamedTable {
  const char* name;
  FlashRegionTable table;
};

const NamedTable kTables[] = {{"A", kFlashRegionsA},
                              {"B", kFlashRegionsB},
                              {"servo", kFlashRegionsServo},
                              {"C28xx", kFlashRegionsC28xx}};

TEST(FlashRegionTest, EveryTableAscendsAndEndsWithTheEndMarkOnly) {
  for (const auto& [name, table] : kTables) {
    ASSERT_GE(table.size(), 2u) << name;
    EXPECT_EQ(table.back().Kind, FLASH_REGION_END) << name;
    for (std::size_t i = 0; i + 1 < table.size(); ++i) {
      EXPECT_LT(table[i].Start, table[i + 1].Start) << name << " entry " << i;
      EXPECT_LE(table[i].Kind, 2) << name << " entry " << i;
      EXPECT_EQ((table[i + 1].Start - table[i].Start) % 2, 0u) << name << ": regions have even sizes";
    }
  }
}

TEST(FlashRegionTest, TheServoTableIsTableAWithoutTheRegionAt0x4000) {
  ASSERT_EQ(std::size(kFlashRegionsServo), std::size(kFlashRegionsA));
  for (std::size_t i = 0; i < std::size(kFlashRegionsA); ++i) {
    EXPECT_EQ(kFlashRegionsServo[i].Start, kFlashRegionsA[i].Start);
    EXPECT_EQ(kFlashRegionsServo[i].Kind, kFlashRegionsA[i].Start == 0x4000 ? 0 : kFlashRegionsA[i].Kind);
  }
}

TEST(FlashRegionTest, TheC28xxTableFollowsItsRule) {
  ASSERT_EQ(std::size(kFlashRegionsC28xx), 17u);
  for (std::uint32_t n = 0; n < 16; ++n) {
    EXPECT_EQ(kFlashRegionsC28xx[n].Start, 0x300000u + n * 0x4000u);
    std::uint16_t kind = n >= 12 ? 0 : (n % 2 == 0 ? 1 : 2);
    EXPECT_EQ(kFlashRegionsC28xx[n].Kind, kind) << "entry " << n;
  }
  EXPECT_EQ(kFlashRegionsC28xx[16].Start, 0x340000u);
  EXPECT_EQ(kFlashRegionsC28xx[16].Kind, FLASH_REGION_END);
}

TEST(FlashRegionTest, FindFlashRegionTakesTheEntryBelowTheNextStart) {
  struct Case {
    FlashRegionTable table;
    std::uint32_t address;
    std::optional<std::size_t> entry;
  } cases[] = {
      {kFlashRegionsA, 0x00000, 0},      {kFlashRegionsA, 0x03FFF, 0},
      {kFlashRegionsA, 0x04000, 1},      {kFlashRegionsA, 0x3FFFF, 6},
      {kFlashRegionsA, 0x40000, {}},     {kFlashRegionsA, 0xFFFFFFFF, {}},
      {kFlashRegionsB, 0x6FFFF, 15},     {kFlashRegionsB, 0x70000, {}},
      {kFlashRegionsC28xx, 0x2FFFFF, {}}, {kFlashRegionsC28xx, 0x300000, 0},
      {kFlashRegionsC28xx, 0x33FFFF, 15}, {kFlashRegionsC28xx, 0x340000, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(FindFlashRegion(c.table, c.address), c.entry) << std::hex << c.address;
}

}  // namespace
