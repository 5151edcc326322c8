#pragma once
// Test helpers for the `inspect` command: one run with its exit status and both streams
// captured, and the SHA-256 the listings end with, as the system's sha256sum computes it.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "console/image_listing_command.h"
#include "support/temp_folder.h"

namespace image_test {

struct InspectRun {
  int status;
  std::string out;
  std::string err;
};

// Everything written to `stream` (a temporary file), which is then closed.
inline std::string ReadBack(std::FILE* stream) {
  std::rewind(stream);
  std::string text;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0) text.append(buffer, got);
  std::fclose(stream);
  return text;
}

inline InspectRun Inspect(const CommandArgs& args) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  int status = RunInspect(args, out, err);
  return {status, ReadBack(out), ReadBack(err)};
}

// The SHA-256 of `bytes` in hexadecimal, from sha256sum over a file in `folder`.
inline std::string Sha256Sum(const CTempFolder& folder, const std::vector<std::uint8_t>& bytes) {
  std::string path = folder.Write("expected-bytes", std::string(bytes.begin(), bytes.end()));
  std::FILE* pipe = ::popen(("sha256sum '" + path + "'").c_str(), "r");
  if (!pipe) {
    ADD_FAILURE() << "cannot run sha256sum";
    return {};
  }
  char digest[65] = {};
  EXPECT_EQ(std::fread(digest, 1, 64, pipe), 64u);
  ::pclose(pipe);
  return digest;
}

}  // namespace image_test
