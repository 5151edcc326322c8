#include "image/flash_region.h"

#include <gtest/gtest.h>

#include <string>

#include "image/image_listing.h"

namespace {

// Every table a family registered for `inspect`, whoever registered it.
TEST(FlashRegionTest, EveryRegisteredTableAscendsAndEndsWithTheEndMarkOnly) {
  const CImageListingRegistry& registry = CImageListingRegistry::Instance();
  ASSERT_FALSE(registry.RegionTableNames().empty());
  for (const std::string& name : registry.RegionTableNames()) {
    FlashRegionTable table = *registry.FindRegionTable(name);
    ASSERT_GE(table.size(), 2u) << name;
    EXPECT_EQ(table.back().Kind, FLASH_REGION_END) << name;
    for (std::size_t i = 0; i + 1 < table.size(); ++i) {
      EXPECT_LT(table[i].Start, table[i + 1].Start) << name << " entry " << i;
      EXPECT_LE(table[i].Kind, 2) << name << " entry " << i;
      EXPECT_EQ((table[i + 1].Start - table[i].Start) % 2, 0u) << name << ": regions have even sizes";
    }
  }
}

TEST(FlashRegionTest, FindFlashRegionTakesTheEntryBelowTheNextStart) {
  constexpr FlashRegion kTable[] = {{0x1000, 0}, {0x4000, 1}, {0x6000, 2}, {0x8000, FLASH_REGION_END}};
  struct Case {
    std::uint32_t address;
    std::optional<std::size_t> entry;
  } cases[] = {
      {0x0FFF, {}}, {0x1000, 0}, {0x3FFF, 0}, {0x4000, 1}, {0x5FFF, 1},
      {0x6000, 2},  {0x7FFF, 2}, {0x8000, {}}, {0xFFFFFFFF, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(FindFlashRegion(kTable, c.address), c.entry) << std::hex << c.address;
}

}  // namespace
