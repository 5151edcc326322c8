#pragma once
// The terminal front end's commands. Each takes the arguments after its name and returns the
// program's exit status.

#include <string>
#include <vector>

using CommandArgs = std::vector<std::string>;

struct ConsoleCommand {
  const char* name;
  std::string (*usage)();  // one line, shown by --help
  int (*run)(const CommandArgs& args);
};

// The commands in the order --help lists them.
const std::vector<ConsoleCommand>& ConsoleCommands();

struct ConsoleStreams;

// Runs the front end on argv (without the program name); what main() returns.
int RunConsole(const CommandArgs& args);
// The same with streams of the caller's choosing (tests).
int RunConsole(const CommandArgs& args, const ConsoleStreams& streams);
