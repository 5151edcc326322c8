#pragma once
// tavrix-devsim's settings, from its command line and configuration files.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct CDevSimConfig {
  std::optional<std::filesystem::path> Bus;  // none: TAVRIX_USB_BUS
  std::optional<std::filesystem::path> TranscriptDirectory;
  std::optional<double> WaitScale;   // none: TAVRIX_WAIT_SCALE, else 1
  std::vector<std::string> Devices;  // "KIND:key=value,..." each
  std::vector<std::string> NetUnits;  // "zt7720:key=value,..." each: a network unit
  std::optional<std::string> RemoteServer;  // "ADDRESS:PORT": forward the bus's devices
  bool Help = false;
  bool ListKinds = false;
  // Write the demo firmware the catalog names, instead of serving devices.
  std::optional<std::filesystem::path> MakeFirmwareCatalog;
  // Also serve one device of every family this catalog names (demo_devices.h).
  std::optional<std::filesystem::path> DemoCatalog;
};

// The command line without the program name. Options apply in order; --config reads a file
// at its place, so later options override what the file set. Throws CSimError.
CDevSimConfig ParseDevSimArguments(const std::vector<std::string>& args);

// Applies a configuration file:
//   # comment
//   bus DIR
//   transcript DIR
//   wait-scale F
//   device KIND:key=value,...
//     key=value            (a line that begins with a blank continues the device above)
// Throws CSimError naming the file and line.
void ReadDevSimConfigFile(const std::filesystem::path& path, CDevSimConfig& config);

std::string DevSimUsage();
