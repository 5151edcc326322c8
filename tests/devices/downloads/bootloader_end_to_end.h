#pragma once
// End to end for the USB interface families whose simulated devices stand on the shared
// bootloader (sim/devices/downloads/sim_bootloader.h): the fixture of every family's end-to-end
// tests, and the record such a device keeps of a whole segment image.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/text_format.h"
#include "support/cli_end_to_end.h"

// The record a device keeps after taking the segment image `file` whole, worked out from the
// file's own records (start and size low byte first, then the data) rather than by the
// program's reader: each run of adjacent records is one segment of kind 1. It holds for the
// demo images, whose segments are even, lie in regions of kind 1 each and do not end in 0xFF.
inline std::string SegmentRecordOf(const std::string& file) {
  auto word = [&file](std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(file[at + static_cast<std::size_t>(i)]);
    return value;
  };
  struct Run {
    std::uint32_t start;
    std::string data;
  };
  std::vector<Run> runs;
  for (std::size_t at = 0; at + 8 <= file.size();) {
    std::uint32_t start = word(at);
    std::uint32_t size = word(at + 4);
    std::string data = file.substr(at + 8, size);
    at += 8 + size;
    if (!runs.empty() && runs.back().start + runs.back().data.size() == start) {
      runs.back().data += data;
    } else {
      runs.push_back({start, data});
    }
  }
  std::string record = "download segment\n";
  for (const Run& run : runs) {
    record += FormatText("segment 0x%08X 0x%04X 1 ", run.start, static_cast<unsigned>(run.data.size()));
    for (char c : run.data) record += FormatText("%02X", static_cast<unsigned>(static_cast<std::uint8_t>(c)));
    record += '\n';
  }
  return record + "end complete\n";
}
