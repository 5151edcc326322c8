#pragma once
// The demo bench: one simulated device for every device family a catalog names, each a little
// behind the catalog's firmware version, so that the wizard finds it, updates it and finds it
// up to date on a second pass. Nothing here names a family: the list follows from the catalog
// and from what the families register.
//
// For each Device of the catalog, in order:
//   - its updater class needs demo firmware (RegisterDemoFirmware), or there is nothing to
//     update it with;
//   - the simulated device kind is the one whose device, made with no options, has the
//     entry's USB product id (RegisterSimDevice); a kind that needs options to be made at all
//     (the scripted device) is never chosen;
//   - each kind is plugged in once, for the first Device that leads to it: the family's other
//     entries share its product id and would find the same device;
//   - the device gets `firmware=N`, N five hundredths below the catalog's Version (every
//     family's simulated device takes that option; a kind that does not is plugged in with
//     its own default version).

#include <filesystem>
#include <string>
#include <vector>

struct CDemoDevice {
  std::string DeviceId;     // the catalog entry to pick in the wizard
  std::string ClassName;
  std::string Description;  // "KIND:options", as tavrix-devsim's --device takes it
};

struct CDemoDevicePlan {
  std::vector<CDemoDevice> Devices;
  std::vector<std::string> Notes;  // entries left out or plugged in without firmware=, and why
};

// Throws CSimError when the catalog cannot be read or is not well-formed XML.
CDemoDevicePlan PlanDemoDevices(const std::filesystem::path& catalog);
