#include "console/commands.h"
#include "console/discover_command.h"
#include "console/history_command.h"
#include "console/image_listing_command.h"
#include "console/list_command.h"
#include "console/update_command.h"
#include "console/devices_command.h"

// Each command lives in its own file; this table only names them.
const std::vector<ConsoleCommand>& ConsoleCommands() {
  static const std::vector<ConsoleCommand> commands{
      {"list", [] { return std::string("list                 the start page's lines: Id, a tab, Name - one per Device, catalog order"); },
       RunListCommand},
      {"update", [] { return std::string("update ID [--address HOST[:PORT]]  the wizard's road for the catalog entry ID, ending with the done page's text"); },
       RunUpdateCommand},
      // The kinds and region tables as the families register them.
      {"inspect", InspectUsage, RunInspectCommand},
      {"devices", [] { return std::string("devices              list the device interfaces present on the USB bus"); },
       RunDevicesCommand},
      {"discover", [] { return std::string("discover [--type N]  list the network units of device type N (default 7720) that answer a search"); },
       RunDiscoverCommand},
      {"history", HistoryUsage, RunHistoryCommand},
  };
  return commands;
}
