// The C28xx updater's demo firmware: a word-addressed Intel HEX file (every address counts
// 16-bit words, each word written low byte first), records of 16 words, an extended linear
// address record whenever the upper half of the word address changes:
//
//   word address  words   region kind
//   0x300000      0x0C00  1            the version tag
//   0x304000      0x0400  2
//   0x310000      0x0800  1
//   0x330000      0x0100  0            never sent: the download leaves it at home

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/text_format.h"
#include "sim/demo_firmware.h"

namespace {

struct CDemoWordRun {
  std::uint32_t Start;  // word address
  std::uint32_t Words;  // even, within one region
};

constexpr CDemoWordRun kRunsC28xx[] = {
    {0x300000, 0x0C00}, {0x304000, 0x0400}, {0x310000, 0x0800}, {0x330000, 0x0100},
};
constexpr std::uint32_t kRecordWords = 16;

std::string Record(std::uint8_t type, std::uint16_t address, std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
                                  static_cast<std::uint8_t>(address), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  unsigned sum = 0;
  std::string line = ":";
  for (std::uint8_t byte : bytes) {
    sum += byte;
    line += FormatText("%02X", byte);
  }
  return line + FormatText("%02X", (0x100 - (sum & 0xFF)) & 0xFF) + "\n";
}

std::string DemoWordHexImage(std::span<const CDemoWordRun> runs, CDemoBytes& random) {
  std::string text;
  std::uint32_t upper = UINT32_MAX;
  for (std::size_t r = 0; r < runs.size(); ++r) {
    std::vector<std::uint8_t> bytes = random.Next(2 * std::size_t{runs[r].Words}, r == 0);
    // The reader drops trailing erased words; the last one is kept so the segment stays whole.
    if (bytes[bytes.size() - 2] == 0xFF && bytes.back() == 0xFF) bytes.back() = 0x00;
    for (std::uint32_t offset = 0; offset < runs[r].Words; offset += kRecordWords) {
      const std::uint32_t address = runs[r].Start + offset;
      if (address >> 16 != upper) {
        upper = address >> 16;
        const std::uint8_t value[] = {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)};
        text += Record(4, 0, value);
      }
      const std::uint32_t words = std::min(kRecordWords, runs[r].Words - offset);
      text += Record(0, static_cast<std::uint16_t>(address), std::span(bytes).subspan(2 * offset, 2 * words));
    }
  }
  return text + ":00000001FF\n";
}

const RegisterDemoFirmware g_c28xx("CUpdaterC28XX",
                                   [](CDemoBytes& random) { return DemoWordHexImage(kRunsC28xx, random); });

}  // namespace
