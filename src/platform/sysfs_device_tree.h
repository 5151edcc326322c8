#pragma once
// The device tree of real USB devices, read from sysfs (/sys/bus/usb/devices by default; tests
// point it at a folder they build). Below one root node come the root hubs ("usb1", ...) and
// below them the devices by port ("1-2", "1-2.4", ...); interfaces are not nodes. A node's
// device id is its sysfs name, its friendly name the device's USB product string (`product`).
// Ejecting a device makes it start again: it is de-authorised and authorised anew, so the
// kernel drops it and enumerates it once more.

#include <functional>
#include <string>

#include "platform/device_tree.h"

class CSysfsDeviceTree : public CSnapshotDeviceTree {
 public:
  static constexpr const char* kDefaultRoot = "/sys/bus/usb/devices";

  // Reads the tree below `root`. `portReset` (optional) is tried when `authorized` cannot be
  // written, which needs more rights than a port reset of a device the user may open.
  explicit CSysfsDeviceTree(std::string root = kDefaultRoot,
                            std::function<bool(const std::string& sysfsName)> portReset = {});

  ConfigRet LocateRoot(DevNode& root) override;
  ConfigRet RequestEject(DevNode node, std::uint32_t& vetoType, std::string& vetoName) override;

  // The first line of a sysfs attribute file, without the line end; nothing when unreadable.
  static std::optional<std::string> ReadAttribute(const std::string& path);

 private:
  void ReadTree();
  bool WriteAuthorized(const std::string& name, const char* value, int& error) const;

  std::string m_root;
  bool m_rootFound = false;
  std::function<bool(const std::string&)> m_portReset;
};
