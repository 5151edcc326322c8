#include "platform/usb_device_watch.h"

#include <libusb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/emulated_usb_bus.h"
#include "platform/libusb_bus.h"

namespace {

constexpr int kFolderPollMilliseconds = 500;
constexpr std::chrono::seconds kDeviceListPoll{1};

// A file of the bus folder that tells of a device: its socket or its ".name" file.
bool IsDeviceFile(const std::string& name) {
  static const std::string kNameSuffix = ".name";
  if (CEmulatedUsbBus::IsDevicePath(name)) return true;
  return name.size() > kNameSuffix.size() && name.ends_with(kNameSuffix) &&
         CEmulatedUsbBus::IsDevicePath(name.substr(0, name.size() - kNameSuffix.size()));
}

// The bus folder's device files, sorted: what the folder watch compares when inotify is not
// to be had.
std::vector<std::string> DeviceFiles(const std::string& directory) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    std::string name = entry.path().filename().string();
    if (IsDeviceFile(name)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// An event file descriptor that wakes a watch's thread to end it.
class CStopSignal {
 public:
  CStopSignal() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~CStopSignal() {
    if (m_fd >= 0) ::close(m_fd);
  }
  CStopSignal(const CStopSignal&) = delete;
  CStopSignal& operator=(const CStopSignal&) = delete;

  int Fd() const { return m_fd; }
  void Raise() const {
    const std::uint64_t one = 1;
    // A counter that cannot take more is raised already.
    if (m_fd >= 0) {
      const ssize_t written = ::write(m_fd, &one, sizeof one);
      static_cast<void>(written);
    }
  }

 private:
  int m_fd;
};

// The emulated bus folder, watched with inotify; without it (no instances left, a folder that
// cannot be watched) its device files are listed twice a second.
class CEmulatedBusFolderWatch : public IUsbDeviceWatch {
 public:
  CEmulatedBusFolderWatch(std::string directory, Changed changed)
      : m_directory(std::move(directory)), m_changed(std::move(changed)) {
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify >= 0 &&
        ::inotify_add_watch(m_inotify, m_directory.c_str(),
                            IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
      ::close(m_inotify);
      m_inotify = -1;
    }
    // Listed before the constructor returns: a device that comes right after is a change.
    if (m_inotify < 0) m_listed = DeviceFiles(m_directory);
    m_thread = std::thread([this] { Run(); });
  }

  ~CEmulatedBusFolderWatch() override {
    m_stop.Raise();
    m_thread.join();
    if (m_inotify >= 0) ::close(m_inotify);
  }

 private:
  void Run() {
    for (;;) {
      pollfd fds[2] = {{m_stop.Fd(), POLLIN, 0}, {m_inotify, POLLIN, 0}};
      const bool notified = m_inotify >= 0;
      const int ready = ::poll(fds, notified ? 2 : 1, notified ? -1 : kFolderPollMilliseconds);
      if (ready < 0 && errno != EINTR) return;
      if (fds[0].revents != 0) return;
      if (!notified) {
        std::vector<std::string> now = DeviceFiles(m_directory);
        if (now != m_listed) {
          m_listed = std::move(now);
          m_changed();
        }
      } else if ((fds[1].revents & POLLIN) != 0 && DrainEvents()) {
        m_changed();
      }
    }
  }

  // Reads every queued event; true when one of them was about a device file.
  bool DrainEvents() {
    bool aboutDevices = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t length = ::read(m_inotify, buffer, sizeof buffer);
      if (length <= 0) return aboutDevices;
      for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && IsDeviceFile(event->name)) aboutDevices = true;
        if ((event->mask & IN_Q_OVERFLOW) != 0) aboutDevices = true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

  std::string m_directory;
  Changed m_changed;
  int m_inotify = -1;
  std::vector<std::string> m_listed;  // without inotify: the device files last seen
  CStopSignal m_stop;
  std::thread m_thread;
};

// Real devices through a libusb context of the watch's own: hot-plug events where the
// platform has them, else the list of devices (bus and address) read once a second. Where
// libusb cannot start there is no USB and nothing to watch.
class CLibUsbDeviceWatch : public IUsbDeviceWatch {
 public:
  explicit CLibUsbDeviceWatch(Changed changed) : m_changed(std::move(changed)) {
    if (libusb_init(&m_context) != LIBUSB_SUCCESS) {
      m_context = nullptr;
      return;
    }
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0) {
      const int events = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
      m_hotplug = libusb_hotplug_register_callback(m_context, static_cast<libusb_hotplug_event>(events),
                                                   static_cast<libusb_hotplug_flag>(0), LIBUSB_HOTPLUG_MATCH_ANY,
                                                   LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, &OnHotplug,
                                                   this, &m_callback) == LIBUSB_SUCCESS;
    }
    if (!m_hotplug) m_listed = Devices();
    m_thread = std::thread([this] { m_hotplug ? RunEvents() : RunPolls(); });
  }

  ~CLibUsbDeviceWatch() override {
    if (m_context == nullptr) return;
    {
      std::lock_guard lock(m_mutex);
      m_stop = true;
    }
    m_stopped.notify_all();
    if (m_hotplug) libusb_interrupt_event_handler(m_context);
    m_thread.join();
    if (m_hotplug) libusb_hotplug_deregister_callback(m_context, m_callback);
    libusb_exit(m_context);
  }

 private:
  static int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device*, libusb_hotplug_event, void* self) {
    static_cast<CLibUsbDeviceWatch*>(self)->m_pending = true;
    return 0;  // stay registered
  }

  bool Stopping() {
    std::lock_guard lock(m_mutex);
    return m_stop;
  }

  void RunEvents() {
    while (!Stopping()) {
      timeval bound{1, 0};
      libusb_handle_events_timeout_completed(m_context, &bound, nullptr);
      if (m_pending.exchange(false)) m_changed();
    }
  }

  void RunPolls() {
    std::unique_lock lock(m_mutex);
    while (!m_stopped.wait_for(lock, kDeviceListPoll, [this] { return m_stop; })) {
      lock.unlock();
      std::vector<std::uint16_t> now = Devices();
      if (now != m_listed) {
        m_listed = std::move(now);
        m_changed();
      }
      lock.lock();
    }
  }

  // Every device as its bus number and address, sorted.
  std::vector<std::uint16_t> Devices() const {
    std::vector<std::uint16_t> devices;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(m_context, &list);
    for (ssize_t i = 0; i < count; ++i) {
      devices.push_back(static_cast<std::uint16_t>(libusb_get_bus_number(list[i]) << 8 |
                                                   libusb_get_device_address(list[i])));
    }
    if (list != nullptr) libusb_free_device_list(list, 1);
    std::sort(devices.begin(), devices.end());
    return devices;
  }

  Changed m_changed;
  libusb_context* m_context = nullptr;
  bool m_hotplug = false;
  libusb_hotplug_callback_handle m_callback{};
  std::atomic<bool> m_pending{false};
  std::vector<std::uint16_t> m_listed;  // without hot-plug: the devices last seen
  std::mutex m_mutex;
  std::condition_variable m_stopped;
  bool m_stop = false;
  std::thread m_thread;
};

}  // namespace

std::unique_ptr<IUsbDeviceWatch> WatchEmulatedBusFolder(const std::string& directory,
                                                        IUsbDeviceWatch::Changed changed) {
  return std::make_unique<CEmulatedBusFolderWatch>(directory, std::move(changed));
}

std::unique_ptr<IUsbDeviceWatch> WatchLibUsbDevices(IUsbDeviceWatch::Changed changed) {
  return std::make_unique<CLibUsbDeviceWatch>(std::move(changed));
}

std::unique_ptr<IUsbDeviceWatch> WatchUsbDevices(IUsbBus& bus, IUsbDeviceWatch::Changed changed) {
  if (auto* emulated = dynamic_cast<CEmulatedUsbBus*>(&bus)) {
    return WatchEmulatedBusFolder(emulated->Directory(), std::move(changed));
  }
  if (dynamic_cast<CLibUsbBus*>(&bus) != nullptr) return WatchLibUsbDevices(std::move(changed));
  return nullptr;
}
