#pragma once
// Firmware files that must be refused before a download begins: made by a test at the path the
// catalog names, each with the reason the person is told besides the file's name.

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct CBadFirmware {
  const char* name;
  std::function<void(const std::string& path)> make;
  std::string shown;
};
inline CBadFirmware BadFirmwareText(const char* name, std::string text, std::string shown) {
  return {name, [text](const std::string& path) { std::ofstream(path, std::ios::binary | std::ios::trunc) << text; },
          std::move(shown)};
}
// The given cases, then a named pipe and a link to /dev/zero: no open may wait, no read may
// run without end.
inline std::vector<CBadFirmware> WithSpecialFirmwareFiles(std::vector<CBadFirmware> cases) {
  const std::string notAFile = "This is not a regular file";
  cases.push_back({"a named pipe", [](const std::string& path) { ::mkfifo(path.c_str(), 0600); }, notAFile});
  cases.push_back({"/dev/zero", [](const std::string& path) { std::filesystem::create_symlink("/dev/zero", path); },
                   notAFile});
  return cases;
}
