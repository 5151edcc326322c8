#pragma once
// The emulated USB bus: simulated devices are Unix-domain stream sockets in a directory, each
// named by its device path ("usb#vid_VVVV&pid_PPPP#SERIAL#{guid}"), with the friendly name in
// "<device path>.name" beside it. Every transfer is one frame on the connection: a 16-bit
// little-endian length, then that many bytes. The frame of length 0xFFFF with nothing after
// it asks the device to start again (eject). Any program that follows this contract can stand
// on the bus as a device.

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/device_tree.h"
#include "platform/usb_bus.h"

class CEmulatedUsbBus : public IUsbBus {
 public:
  static constexpr std::uint16_t kEjectFrame = 0xFFFF;
  // How long a reset waits, after the reset frame, for the device to close its connection.
  static constexpr std::chrono::milliseconds kEjectDepartureBound{2000};

  explicit CEmulatedUsbBus(std::string directory);
  ~CEmulatedUsbBus() override;

  std::string Description() const override { return "emulated bus " + m_directory; }
  std::unique_ptr<IUsbInterfaceList> ListInterfaces(std::string_view interfaceGuid) override;
  std::unique_ptr<IUsbHandle> Open(const std::string& path, UsbAccess access,
                                   UsbOpenError* error = nullptr) override;
  std::string FriendlyName(const std::string& devicePath) override;
  bool Eject(const std::string& devicePath) override;
  std::unique_ptr<IDeviceTree> OpenDeviceTree() override;

  const std::string& Directory() const { return m_directory; }

  // The device paths of every device socket on the bus, of both classes, sorted by name.
  std::vector<std::string> AllDevicePaths() const;
  // True when `name` has the shape of a device path; its interface class GUID (lower case)
  // goes to `guid`.
  static bool IsDevicePath(const std::string& name, std::string* guid = nullptr);

  struct Connection;

 private:
  // Connects to the device socket; -1 with the reason in `error` when that fails.
  int Connect(const std::string& devicePath, UsbOpenError& error) const;

  std::string m_directory;
  CPipeConnections<Connection> m_connections;
};

// The emulated bus as a device tree: one root node, every device below it, removable, without
// a problem code; eject sends the eject frame.
class CEmulatedDeviceTree : public CSnapshotDeviceTree {
 public:
  explicit CEmulatedDeviceTree(CEmulatedUsbBus& bus);
  ConfigRet RequestEject(DevNode node, std::uint32_t& vetoType, std::string& vetoName) override;

 private:
  CEmulatedUsbBus& m_bus;
};
