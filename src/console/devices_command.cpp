#include "console/devices_command.h"

#include "platform/usb_bus.h"

void ListDeviceInterfaces(IUsbBus& bus, std::FILE* out) {
  for (const char* guid : {kUsbFirstGenerationGuid, kUsbSecondGenerationGuid}) {
    for (const auto& path : EnumerateInterfaces(bus, guid)) {
      std::fprintf(out, "%s\t%s\n", path.c_str(), bus.FriendlyName(path).c_str());
    }
  }
}

int RunDevicesCommand(const CommandArgs& args) {
  if (!args.empty()) {
    std::fprintf(stderr, "tavrix-update-cli: devices takes no arguments\n");
    return 2;
  }
  ListDeviceInterfaces(UsbBus(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
