#include "console/devices_command.h"

#include <cstdlib>
#include <filesystem>

#include "platform/usb_bus.h"

bool ListDeviceInterfaces(IUsbBus& bus, std::FILE* out) {
  bool found = false;
  for (const char* guid : {kUsbFirstGenerationGuid, kUsbSecondGenerationGuid}) {
    for (const auto& path : EnumerateInterfaces(bus, guid)) {
      std::fprintf(out, "%s\t%s\n", path.c_str(), bus.FriendlyName(path).c_str());
      found = true;
    }
  }
  return found;
}

int RunDevicesCommand(const CommandArgs& args) {
  if (!args.empty()) {
    std::fprintf(stderr, "tavrix-update-cli: devices takes no arguments\n");
    return 2;
  }
  // An emulated bus that is not there is a mistake in the setup, not an empty bus.
  if (const char* bus = std::getenv("TAVRIX_USB_BUS"); bus != nullptr && *bus != '\0') {
    std::error_code error;
    if (!std::filesystem::is_directory(bus, error)) {
      std::fprintf(stderr, "tavrix-update-cli: TAVRIX_USB_BUS names '%s', which is no folder\n", bus);
      return 2;
    }
  }
  if (!ListDeviceInterfaces(UsbBus(), stdout)) std::fprintf(stderr, "No device found.\n");
  return std::fflush(stdout) == 0 ? 0 : 1;
}
