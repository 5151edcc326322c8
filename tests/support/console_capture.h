#pragma once
// Runs the terminal front end in-process with its input given and its output caught.

#include <string>
#include <vector>

struct ConsoleResult {
  int status = -1;
  std::string out;
  std::string err;
  // The last line of standard output (without its line feed).
  std::string LastLine() const;
};

struct ConsoleInput {
  std::string text;           // what standard input holds
  bool inIsTerminal = false;
  bool outIsTerminal = false;
};

ConsoleResult RunConsoleCaptured(const std::vector<std::string>& args, const ConsoleInput& input = {});
