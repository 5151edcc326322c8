#include "console/commands.h"

// Each command lives in its own file; this table only names them.
const std::vector<ConsoleCommand>& ConsoleCommands() {
  static const std::vector<ConsoleCommand> commands{
  };
  return commands;
}
