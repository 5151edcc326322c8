#include "updater/attached_devices.h"

#include <algorithm>

#include "platform/ascii_text.h"
#include "platform/usb_bus.h"
#include "platform/usb_products.h"
#include "updater/device_catalog.h"
#include "updater/updater_usb_products.h"

std::vector<AttachedDevice> AttachedDevices(IUsbBus& bus) {
  std::vector<AttachedDevice> devices;
  for (const char* guid : {kUsbFirstGenerationGuid, kUsbSecondGenerationGuid}) {
    for (const auto& path : EnumerateInterfaces(bus, guid)) {
      AttachedDevice device;
      device.id = bus.StableId(path);
      device.path = path;
      device.friendlyName = bus.FriendlyName(path);
      device.productId = ProductIdOfPath(path).value_or(0);
      device.interfaceGuid = ToLowerAscii(guid);
      devices.push_back(std::move(device));
    }
  }
  return devices;
}

bool EntryMatches(const std::string& className, std::uint16_t catalogPid, const AttachedDevice& device) {
  auto ids = UsbProductsOf(className, catalogPid);
  return std::find(ids.begin(), ids.end(), device.productId) != ids.end() &&
         ToLowerAscii(UsbInterfaceGuidOf(device.productId)) == device.interfaceGuid;
}

std::vector<AttachedDevice> AttachedDevicesOf(IUsbBus& bus, const DeviceRecord& entry) {
  std::vector<AttachedDevice> devices;
  for (auto& device : AttachedDevices(bus)) {
    if (EntryMatches(entry.ClassName, entry.UsbPid, device)) devices.push_back(std::move(device));
  }
  return devices;
}
