#include "sim/firmware_version_tag.h"

#include <algorithm>

std::string FirmwareVersionTag(std::uint16_t version) {
  return std::string(kFirmwareVersionTag) + std::to_string(version);
}

std::optional<std::uint16_t> FindFirmwareVersionTag(std::span<const std::uint8_t> bytes) {
  constexpr std::size_t kMaxDigits = 5;
  auto at = bytes.begin();
  for (;;) {
    at = std::search(at, bytes.end(), kFirmwareVersionTag.begin(), kFirmwareVersionTag.end());
    if (at == bytes.end()) return std::nullopt;
    auto digit = at + static_cast<std::ptrdiff_t>(kFirmwareVersionTag.size());
    std::uint32_t value = 0;
    std::size_t digits = 0;
    for (; digit != bytes.end() && digits < kMaxDigits && *digit >= '0' && *digit <= '9'; ++digit, ++digits) {
      value = value * 10 + (*digit - '0');
    }
    if (digits > 0) return static_cast<std::uint16_t>(value);
    ++at;
  }
}
