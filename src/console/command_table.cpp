#include "console/commands.h"
#include "console/devices_command.h"

// Each command lives in its own file; this table only names them.
const std::vector<ConsoleCommand>& ConsoleCommands() {
  static const std::vector<ConsoleCommand> commands{
      {"devices", "devices              list the device interfaces present on the USB bus", RunDevicesCommand},
  };
  return commands;
}
