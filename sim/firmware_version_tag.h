#pragma once
// How a simulated device learns the version of the firmware it was given. Real firmware keeps
// its version in the code; our demo and test images carry it as an ASCII tag in their data:
//
//   TAVRIX-FW-VERSION=312
//
// the tag text followed by 1 to 5 decimal digits, the version as the catalog writes it (312 is
// shown as 3.12). A device that took a whole download looks for the tag in what it received,
// in address order, and reports that version from its next start. The tag must lie within one
// segment or block of the download.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

inline constexpr std::string_view kFirmwareVersionTag = "TAVRIX-FW-VERSION=";

// The tag for `version`, as it is written into an image.
std::string FirmwareVersionTag(std::uint16_t version);

// The version named by the first tag in `bytes` that is followed by at least one digit; the
// number is kept to 16 bits. Nothing when there is no such tag.
std::optional<std::uint16_t> FindFirmwareVersionTag(std::span<const std::uint8_t> bytes);
