#pragma once
// Runs a shell command and collects its standard output, for tests of the built programs.

#include <cstdio>
#include <string>

// The command's standard output; `status` receives what pclose returns (-1 when it did not run).
inline std::string RunProgram(const std::string& command, int& status) {
  std::string output;
  status = -1;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[512];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, got);
  status = ::pclose(pipe);
  return output;
}
