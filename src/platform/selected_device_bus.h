#pragma once
// A view of a USB bus that holds one device only: the one with a given stable id. Installed
// for an update of a chosen device, it keeps every other device on the bus from being listed,
// opened or reset, also when they are of the same type, and it finds the device again by its
// id after its own reset.

#include <memory>
#include <set>
#include <string>

#include "platform/usb_bus.h"

class CSelectedDeviceBus : public IUsbBus {
 public:
  // `bus` is not owned and must outlive this view.
  // How long IsPresent looks for a device that does not show at once.
  static constexpr std::chrono::milliseconds kPresenceBound{2000};

  CSelectedDeviceBus(IUsbBus& bus, std::string deviceId);

  const std::string& DeviceId() const { return m_deviceId; }
  // Whether a device with the id is on the bus (looked for up to kPresenceBound).
  bool IsPresent();

  std::string Description() const override;
  std::unique_ptr<IUsbInterfaceList> ListInterfaces(std::string_view interfaceGuid) override;
  std::unique_ptr<IUsbHandle> Open(const std::string& path, UsbAccess access,
                                   UsbOpenError* error = nullptr) override;
  std::string FriendlyName(const std::string& devicePath) override { return m_bus.FriendlyName(devicePath); }
  bool Eject(const std::string& devicePath) override;
  // The bus's tree, in which only the chosen device's node has a friendly name: a reset by
  // name then reaches that device alone.
  std::unique_ptr<IDeviceTree> OpenDeviceTree() override;
  std::string StableId(const std::string& devicePath) override { return m_bus.StableId(devicePath); }
  std::string DeviceNodeId(const std::string& devicePath) override { return m_bus.DeviceNodeId(devicePath); }

 private:
  bool IsSelected(const std::string& devicePath);

  IUsbBus& m_bus;
  std::string m_deviceId;
};
