// The watches of the USB bus: the emulated bus folder tells of device sockets that come and
// go, with inotify, and by listing the folder when the folder cannot be watched.

#include "platform/usb_device_watch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>

#include "platform/emulated_usb_bus.h"
#include "support/emulated_usb_device.h"
#include "support/temp_folder.h"

namespace {

using namespace std::chrono_literals;

const CSimUsbAddress kDevice{kSimVendorId, 0xA7B0, "W1", ESimGeneration::Second};

// Counts the watch's calls; a test waits for the next one.
class CChangeCounter {
 public:
  IUsbDeviceWatch::Changed Callback() {
    return [this] {
      std::lock_guard lock(m_mutex);
      ++m_count;
      m_changed.notify_all();
    };
  }
  // Waits until more than `seen` calls were made; the count then.
  int WaitBeyond(int seen, std::chrono::milliseconds bound = 5s) {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, bound, [&] { return m_count > seen; });
    return m_count;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  int m_count = 0;
};

TEST(UsbDeviceWatch, TellsOfADeviceThatComesAndGoes) {
  CTempBusDirectory bus;
  CChangeCounter changes;
  CEmulatedUsbBus usb(bus.Path());
  std::unique_ptr<IUsbDeviceWatch> watch = WatchUsbDevices(usb, changes.Callback());
  ASSERT_NE(watch, nullptr);
  auto device = std::make_unique<CEmulatedUsbDevice>(bus.Path(), kDevice);
  const int plugged = changes.WaitBeyond(0);
  EXPECT_GE(plugged, 1) << "no word of the device plugged in";
  device.reset();
  EXPECT_GT(changes.WaitBeyond(plugged), plugged) << "no word of the device gone";
}

// A folder that is not there yet cannot be watched with inotify: it is listed instead, and a
// device that appears once the folder is made is told of.
TEST(UsbDeviceWatch, ListsAFolderThatCannotBeWatched) {
  CTempFolder folder;
  const std::string busPath = folder / "later";
  CChangeCounter changes;
  std::unique_ptr<IUsbDeviceWatch> watch = WatchEmulatedBusFolder(busPath, changes.Callback());
  std::filesystem::create_directories(busPath);
  CEmulatedUsbDevice device(busPath, kDevice);
  EXPECT_GE(changes.WaitBeyond(0), 1);
}

// The libusb watch (hot-plug events, or the device list read once a second) ends as soon as
// it is destroyed, without waiting out its second; on a machine without USB it starts and
// ends all the same.
TEST(UsbDeviceWatch, TheLibUsbWatchEndsAtOnce) {
  CChangeCounter changes;
  std::unique_ptr<IUsbDeviceWatch> watch = WatchLibUsbDevices(changes.Callback());
  ASSERT_NE(watch, nullptr);
  const auto start = std::chrono::steady_clock::now();
  watch.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
}

}  // namespace
