#include "console/commands.h"
#include "console/discover_command.h"
#include "console/image_listing_command.h"
#include "console/list_command.h"
#include "console/update_command.h"
#include "console/devices_command.h"

// Each command lives in its own file; this table only names them.
const std::vector<ConsoleCommand>& ConsoleCommands() {
  static const std::vector<ConsoleCommand> commands{
      {"list", "list                 the start page's lines: Id, a tab, Name - one per Device, catalog order",
       RunListCommand},
      {"update", "update ID [--address HOST[:PORT]]  the wizard's road for the catalog entry ID, ending with the done page's text",
       RunUpdateCommand},
      {"inspect", "inspect FILE --as segments|hex|hex16|binary [--regions A|B|servo]", RunInspectCommand},
      {"devices", "devices              list the device interfaces present on the USB bus", RunDevicesCommand},
      {"discover", "discover [--type N]  list the network units of device type N (default 7720) that answer a search",
       RunDiscoverCommand},
  };
  return commands;
}
