#pragma once
// What several fuzz targets share: a scratch folder of the process's own for the files an
// input is written to, and a silent user interface that counts the message boxes, so that a
// target can tell a refusal that was said from one that was not.

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "../tests/support/silent_user_interface.h"

// A folder made once per process and removed with its files when the process ends normally.
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavrix-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    static struct CRemover {
      std::string path;
      ~CRemover() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
      }
    } remover{pattern};
    return pattern;
  }();
  return folder;
}

// Writes the bytes to `path` as they are, replacing what was there; aborts when it cannot,
// since the target would then test nothing.
inline void WriteScratchFile(const std::string& path, std::string_view bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) std::abort();
  if (std::fclose(file) != 0) std::abort();
}

class CCountingUserInterface : public CSilentUserInterface {
 public:
  int MessageBox(const std::string& text, unsigned type) override {
    ++messages;
    lastMessage = text;
    return CSilentUserInterface::MessageBox(text, type);
  }
  int messages = 0;
  std::string lastMessage;
};
