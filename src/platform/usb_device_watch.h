#pragma once
// Tells when USB devices come or go, so that what is shown of the attached devices can be read
// again. A watch only says that something may have changed; the bus is then asked what is
// there now. It runs a thread of its own and calls `changed` on it, once for each burst of
// changes; it stops, and calls no more, when it is destroyed.
//
// On the emulated bus the bus folder is watched (inotify): a device is a socket that appears
// or goes, with its ".name" file beside it. On libusb the library's hot-plug events are used
// where the platform has them, else the device list is read again every second.

#include <functional>
#include <memory>
#include <string>

class IUsbBus;

class IUsbDeviceWatch {
 public:
  using Changed = std::function<void()>;
  virtual ~IUsbDeviceWatch() = default;
};

// A watch that fits `bus`; nullptr for a bus it does not know how to watch (a test's own).
std::unique_ptr<IUsbDeviceWatch> WatchUsbDevices(IUsbBus& bus, IUsbDeviceWatch::Changed changed);

// The watches themselves, for tests that pick one.
std::unique_ptr<IUsbDeviceWatch> WatchEmulatedBusFolder(const std::string& directory,
                                                        IUsbDeviceWatch::Changed changed);
std::unique_ptr<IUsbDeviceWatch> WatchLibUsbDevices(IUsbDeviceWatch::Changed changed);
