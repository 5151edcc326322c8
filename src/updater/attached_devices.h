#pragma once
// The USB devices on the bus, each with its stable id, and which catalog entries can update
// them: an entry matches a device when its updater opens the device's product id through the
// device's driver generation.

#include <cstdint>
#include <string>
#include <vector>

class IUsbBus;
struct DeviceRecord;

struct AttachedDevice {
  std::string id;            // survives the device's own resets (serial, else port chain)
  std::string path;          // the device path
  std::string friendlyName;  // the USB product string; empty when it has none
  std::uint16_t productId = 0;
  std::string interfaceGuid;  // the driver generation's interface class, lower case
};

// Every device interface of both driver generations, in enumeration order.
std::vector<AttachedDevice> AttachedDevices(IUsbBus& bus);

// Whether the updater of catalog class `className` (with the entry's USBPID `catalogPid`)
// opens `device`.
bool EntryMatches(const std::string& className, std::uint16_t catalogPid, const AttachedDevice& device);

// The devices the entry's updater opens, in the order its connect loop tries them.
std::vector<AttachedDevice> AttachedDevicesOf(IUsbBus& bus, const DeviceRecord& entry);
