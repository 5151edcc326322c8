#pragma once
// The USB bus of real devices, on libusb-1.0. A device is served as the vendor driver would
// serve it when its USB product string begins with "Tavrix" and one of its interfaces has a
// bulk IN and a bulk OUT endpoint. The product ids the families registered as first-generation
// (usb_products.h) form the first interface class, every other one the second. Device paths keep the driver's shape,
// "usb#vid_vvvv&pid_pppp#<bus>-<ports>#{guid}", so that the "pid_%04x" match works unchanged;
// "<path>\PIPE02" is the interface's bulk IN endpoint and "<path>\PIPE03" its bulk OUT
// endpoint. A machine without USB (or where libusb cannot start) simply has no devices.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/usb_bus.h"

struct libusb_context;
struct libusb_device;

class CLibUsbBus : public IUsbBus {
 public:
  // `sysfsRoot` is where the product strings and the device tree are read.
  explicit CLibUsbBus(std::string sysfsRoot = "/sys/bus/usb/devices");
  ~CLibUsbBus() override;
  CLibUsbBus(const CLibUsbBus&) = delete;
  CLibUsbBus& operator=(const CLibUsbBus&) = delete;

  std::string Description() const override { return "libusb"; }
  std::unique_ptr<IUsbInterfaceList> ListInterfaces(std::string_view interfaceGuid) override;
  std::unique_ptr<IUsbHandle> Open(const std::string& path, UsbAccess access,
                                   UsbOpenError* error = nullptr) override;
  std::string FriendlyName(const std::string& devicePath) override;
  bool Eject(const std::string& devicePath) override;
  std::unique_ptr<IDeviceTree> OpenDeviceTree() override;
  // The serial number sysfs shows for the device, else its location.
  std::string StableId(const std::string& devicePath) override;
  // The sysfs tree names its nodes by location.
  std::string DeviceNodeId(const std::string& devicePath) override { return LocationOf(devicePath); }

  // The libusb location "<bus>-<port>.<port>..." inside a device path; empty when the path has
  // another shape.
  static std::string LocationOf(const std::string& devicePath);

  struct Device;
  struct Connection;

 private:
  bool Start();
  // Starts libusb anew when sysfs shows a device its list lacks and nothing is open.
  void RefreshIfBehind();
  std::vector<Device> Scan();
  std::string ProductString(libusb_device* device, const std::string& location) const;
  bool PortReset(const std::string& location);
  // Opens the device behind `devicePath` and claims its bulk interface; nullptr with the
  // reason in `reason` when that fails.
  std::shared_ptr<Connection> Connect(const std::string& devicePath, UsbOpenError& reason);

  std::string m_sysfsRoot;
  std::mutex m_mutex;
  libusb_context* m_context = nullptr;
  bool m_started = false;
  CPipeConnections<Connection> m_connections;
};
