#include "console/commands.h"
#include "console/discover_command.h"
#include "console/history_command.h"
#include "console/image_listing_command.h"
#include "console/list_command.h"
#include "console/update_command.h"
#include "console/devices_command.h"
#include "console/udev_rule_command.h"

// Each command lives in its own file; this table only names them.
const std::vector<ConsoleCommand>& ConsoleCommands() {
  static const std::vector<ConsoleCommand> commands{
      {"list", [] { return std::string("list                 the start page's lines: Id, a tab, Name - one per Device, catalog order"); },
       RunListCommand},
      {"update", [] {
         return std::string(
             "update ID [--address HOST[:PORT] | --device DEVICE-ID | --all] [--dry-run] [--no-verify]\n"
             "                       the wizard's road for the catalog entry ID, ending with the done page's\n"
             "                       text; --device takes the attached device with that id (see devices),\n"
             "                       --all every attached device of the type at the same time, --dry-run\n"
             "                       connects and reports the versions without programming, --no-verify\n"
             "                       does not meet the device again to read its version back");
       },
       RunUpdateCommand},
      // The kinds and region tables as the families register them.
      {"inspect", InspectUsage, RunInspectCommand},
      {"devices", [] {
         return std::string(
             "devices [--probe]    the USB devices present: id, matching catalog Ids, name and path;\n"
             "                       --probe also asks each one for its versions, all at the same time");
       },
       RunDevicesCommand},
      {"discover", [] { return std::string("discover [--type N]  list the network units of device type N (default 7720) that answer a search"); },
       RunDiscoverCommand},
      {"udev-rule", [] {
         return std::string(
             "udev-rule            the udev rule that lets the person at the computer open every USB\n"
             "                       device of the catalog in use (and of every family the program has)");
       },
       RunUdevRuleCommand},
      {"history", HistoryUsage, RunHistoryCommand},
  };
  return commands;
}
