#include "sim/firmware_version_tag.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::optional<std::uint16_t> Find(const std::string& text) {
  return FindFirmwareVersionTag(
      std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

TEST(FirmwareVersionTag, ReadsTheNumberAfterTheFirstCompleteTag) {
  struct Case {
    std::string data;
    std::optional<std::uint16_t> version;
  };
  const Case cases[] = {
      {"\xFF\xFF" + FirmwareVersionTag(312) + "\0rest", 312},
      {FirmwareVersionTag(7), 7},                                            // tag at the very end
      {"TAVRIX-FW-VERSION=x TAVRIX-FW-VERSION=405", 405},                    // first one has no digits
      {"TAVRIX-FW-VERSION=1234567", 12345},                                  // at most five digits
      {"TAVRIX-FW-VERSION=99999", static_cast<std::uint16_t>(99999)},        // kept to 16 bits
      {"TAVRIX-FW-VERSION", std::nullopt},
      {"no tag here", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(Find(c.data), c.version) << c.data;
}

}  // namespace
