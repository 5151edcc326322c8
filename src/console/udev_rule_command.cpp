#include "console/udev_rule_command.h"

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "console/console_session.h"
#include "platform/text_format.h"
#include "platform/usb_products.h"
#include "updater/device_catalog.h"
#include "updater/updater_usb_products.h"
#include "wizard/wizard_state.h"

namespace {

constexpr const char* kHeader =
    "# Tavrix Update: gives the person logged in at the computer access to the Tavrix USB devices,\n"
    "# so that the updater can open and program them without root rights. The \"uaccess\" tag hands\n"
    "# the device node to the user of the active local session (it must be applied before\n"
    "# 73-seat-late.rules, hence the number 70).\n"
    "#\n"
    "# Written by `tavrix-update-cli udev-rule` from the product ids the device families register\n"
    "# and those the catalog names (USBPID). A lab with a catalog of its own writes its rule with\n"
    "# `tavrix-update-cli --catalog FILE udev-rule`. Every line also checks the product string, so\n"
    "# that a device of another maker that happens to use one of these product ids is left alone.\n"
    "\n"
    "ACTION==\"remove\", GOTO=\"tavrix_update_end\"\n"
    "SUBSYSTEM!=\"usb\", GOTO=\"tavrix_update_end\"\n"
    "ENV{DEVTYPE}!=\"usb_device\", GOTO=\"tavrix_update_end\"\n"
    "\n";

// Every product id the program opens, with what opens it: the classes that register it, and
// the catalog entries that name it.
std::map<std::uint16_t, std::set<std::string>> ProductIds(const std::vector<DeviceRecord>& entries) {
  std::map<std::uint16_t, std::set<std::string>> ids;
  for (std::uint16_t id : RegisteredUsbProducts()) ids[id];
  for (const auto& entry : entries) {
    for (std::uint16_t id : UsbProductsOf(entry.ClassName, entry.UsbPid)) ids[id].insert(entry.Id);
  }
  return ids;
}

}  // namespace

int RunUdevRuleCommand(const CommandArgs& args) {
  ConsoleSession& session = Console();
  if (!args.empty()) {
    std::fprintf(session.streams.err, "tavrix-update-cli: udev-rule takes no arguments\n");
    return kExitSetup;
  }
  DeviceCatalog& catalog = TheWizardState().Catalog;
  if (!catalog.OpenCatalog()) return kExitSetup;  // the message named the file
  std::vector<DeviceRecord> entries = catalog.Entries();
  catalog.CloseCatalog();

  std::string rule = kHeader;
  for (const auto& [id, names] : ProductIds(entries)) {
    std::string users;
    for (const auto& name : names) users += (users.empty() ? "" : ", ") + name;
    const char* generation = UsbDriverGenerationOf(id) == EUsbDriverGeneration::First ? "first" : "second";
    rule += FormatText("# %s driver generation%s%s\n", generation, users.empty() ? "" : ": ", users.c_str());
    rule += FormatText("ATTR{idProduct}==\"%04x\", ATTR{product}==\"Tavrix*\", TAG+=\"uaccess\"\n", id);
  }
  rule += "\nLABEL=\"tavrix_update_end\"\n";
  std::fputs(rule.c_str(), session.streams.out);
  return std::fflush(session.streams.out) == 0 ? kExitOk : kExitFailed;
}
