#pragma once
// The device tree of real USB devices, read from sysfs (/sys/bus/usb/devices by default; tests
// point it at a folder they build). Below one root node come the root hubs ("usb1", ...) and
// below them the devices by port ("1-2", "1-2.4", ...); interfaces are not nodes. A node's
// device id is its sysfs name, its friendly name the device's USB product string (`product`).
// Ejecting a device makes it start again: it is de-authorised and authorised anew, so the
// kernel drops it and enumerates it once more. A device that was switched off and cannot be
// switched on again would stay unusable until it is plugged in anew, so that step is tried
// again, then a port reset is, and the eject request says so when the device stays off.

#include <functional>
#include <string>

#include "platform/device_tree.h"

class CSysfsDeviceTree : public CSnapshotDeviceTree {
 public:
  static constexpr const char* kDefaultRoot = "/sys/bus/usb/devices";
  // How often authorising a de-authorised device is tried, and the wait between two tries.
  static constexpr int kAuthoriseAttempts = 3;
  static constexpr std::uint32_t kAuthoriseRetryWait = 100;

  // Reads the tree below `root`. `portReset` (optional) is tried when `authorized` cannot be
  // written, which needs more rights than a port reset of a device the user may open.
  explicit CSysfsDeviceTree(std::string root = kDefaultRoot,
                            std::function<bool(const std::string& sysfsName)> portReset = {});

  ConfigRet LocateRoot(DevNode& root) override;
  // CR_SUCCESS when the device was made to start again; CR_DEVICE_NOT_THERE when it was
  // switched off and neither authorising it again nor a port reset brought it back.
  ConfigRet RequestEject(DevNode node, std::uint32_t& vetoType, std::string& vetoName) override;

  // The first line of a sysfs attribute file, without the line end; nothing when unreadable.
  static std::optional<std::string> ReadAttribute(const std::string& path);

 protected:
  // Writes `value` ("0" or "1") to the device's `authorized` file; false with errno in `error`
  // when the kernel refuses it.
  virtual bool WriteAuthorized(const std::string& name, const char* value, int& error) const;

 private:
  void ReadTree();
  // Switches a de-authorised device on again: retried, then a port reset.
  ConfigRet Reauthorise(const std::string& name);

  std::string m_root;
  bool m_rootFound = false;
  std::function<bool(const std::string&)> m_portReset;
};
