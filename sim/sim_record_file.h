#pragma once
// The record file a simulated device keeps of what it received (record=FILE): text rewritten
// whole, through a side file renamed into place, so that a reader never sees half of it and
// whatever the host saw acknowledged is in it by the time the host program ends.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

// Replaces the file at `path` with `texts`, one after the other. False when it cannot be
// written (the file is then left as it was).
bool RewriteSimRecordFile(const std::filesystem::path& path, std::span<const std::string> texts);

// Appends `bytes` to `text` in upper-case hexadecimal, two digits each, without blanks.
void AppendSimRecordHex(std::string& text, std::span<const std::uint8_t> bytes);
