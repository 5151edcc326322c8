#pragma once
// A simulated device's record of what it received, kept in a text file that a host program's
// test reads while the device runs: each write replaces the whole file through a side file
// renamed into place, so a reader never sees half a record.

#include <filesystem>
#include <string>

// Writes `text` as the whole content of `path`; false when that failed.
bool ReplaceFileContent(const std::filesystem::path& path, const std::string& text);
