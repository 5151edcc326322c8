#pragma once
// Region tables compared with literal start/kind pairs, written out by hand from the device's
// flash map: a wrong entry cannot pass by following the same rule as the table.

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "image/flash_region.h"

using RegionPairs = std::vector<std::pair<std::uint32_t, std::uint16_t>>;

inline RegionPairs PairsOf(FlashRegionTable table) {
  RegionPairs pairs;
  for (const FlashRegion& region : table) pairs.emplace_back(region.Start, region.Kind);
  return pairs;
}
