#include "image/flash_region.h"

std::optional<std::size_t> FindFlashRegion(FlashRegionTable table, std::uint32_t address) {
  for (std::size_t i = 0; i + 1 < table.size() && table[i].Kind != FLASH_REGION_END; ++i) {
    if (table[i].Start <= address && address < table[i + 1].Start) return i;
  }
  return std::nullopt;
}
