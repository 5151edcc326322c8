#pragma once
// tavrix-usb-bridge: the devices of an emulated USB bus presented as kernel USB devices in a
// umockdev testbed, so that a program started under the testbed's preload library reaches
// them through its real USB stack (libusb, sysfs, /dev/bus/usb). Every device sits on a port
// of its own below root hub usb1 and keeps that port; each appearance gets a new device
// number, as the kernel gives one.
//   - A socket that appears on the bus is enumerated: a sysfs node with idVendor, idProduct,
//     product (the name file), removable and authorized, a /dev/bus/usb node and an "add"
//     uevent. A socket that goes is unplugged: "remove" uevent, node and sysfs entry gone.
//   - Writing 0 and then 1 to `authorized`, or a USBDEVFS_RESET, ejects the device on the
//     bus: it leaves at once and is enumerated anew when its socket is back.

#include <sys/types.h>
#include <umockdev.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/usb_bridge/bridge_device.h"

struct CUsbBridgeOptions {
  std::filesystem::path BusDirectory;
  // `authorized` cannot be written, as for a user without the rights to it: the host can only
  // eject through a port reset.
  bool FixedAuthorized = false;
};

class CUsbBridge {
 public:
  explicit CUsbBridge(CUsbBridgeOptions options);
  ~CUsbBridge();
  CUsbBridge(const CUsbBridge&) = delete;
  CUsbBridge& operator=(const CUsbBridge&) = delete;

  // Follows the bus, the authorized attributes and the resets for `wait` (about).
  void Serve(std::chrono::milliseconds wait);

 private:
  struct Appearance;
  struct Slot {
    int Port = 0;
    std::unique_ptr<Appearance> Present;
    bool Away = false;  // ejected: not back until the socket is (anew)
    ino_t AwayInode = 0;
    std::chrono::steady_clock::time_point AwaySince;
  };

  void AddRootHub();
  void Scan();
  void Enumerate(const std::string& name, Slot& slot);
  void Retire(Slot& slot);
  void Eject(const std::string& name, Slot& slot, const char* how);
  void ReadAuthorized(const std::string& name, Slot& slot);
  void TakeResets();

  CUsbBridgeOptions m_options;
  UMockdevTestbed* m_testbed = nullptr;
  std::string m_root;  // the testbed's root directory
  int m_nextDeviceNumber = 2;
  int m_nextPort = 1;
  std::map<std::string, Slot> m_slots;  // by device path
  std::vector<std::unique_ptr<CBridgeDevice>> m_left;  // earlier appearances, answering ENODEV

  std::mutex m_resetMutex;
  std::vector<std::string> m_resets;  // device nodes the host reset
};
