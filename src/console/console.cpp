#include <cstdio>

#include "console/commands.h"

namespace {

void PrintUsage(std::FILE* out) {
  std::fprintf(out, "usage: tavrix-update-cli COMMAND [ARGS]\n\ncommands:\n");
  for (const auto& command : ConsoleCommands()) std::fprintf(out, "  %s\n", command.usage);
}

}  // namespace

int RunConsole(const CommandArgs& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    PrintUsage(args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  for (const auto& command : ConsoleCommands()) {
    if (args[0] == command.name) return command.run(CommandArgs(args.begin() + 1, args.end()));
  }
  std::fprintf(stderr, "tavrix-update-cli: unknown command '%s'\n", args[0].c_str());
  PrintUsage(stderr);
  return 2;
}
