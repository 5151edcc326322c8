#include "console/commands.h"
#include "console/inspect_command.h"

// Each command lives in its own file; this table only names them.
const std::vector<ConsoleCommand>& ConsoleCommands() {
  static const std::vector<ConsoleCommand> commands{
      {"inspect", "inspect FILE --as segments|hex|hex16|binary [--regions A|B|servo]", RunInspectCommand},
  };
  return commands;
}
