#include "platform/usb_bus.h"

#include <atomic>
#include <charconv>
#include <cstdlib>
#include <mutex>

#include "platform/ascii_text.h"
#include "platform/emulated_usb_bus.h"
#include "platform/libusb_bus.h"

UsbEnumResult CUsbInterfaceVector::Interface(unsigned index, std::string& devicePath) {
  if (index >= m_paths.size()) return UsbEnumResult::kNoMoreItems;
  devicePath = m_paths[index];
  return UsbEnumResult::kOk;
}

std::vector<std::string> EnumerateInterfaces(IUsbBus& bus, std::string_view interfaceGuid) {
  std::vector<std::string> paths;
  auto list = bus.ListInterfaces(interfaceGuid);
  if (!list) return paths;
  for (unsigned index = 0;; ++index) {
    std::string path;
    UsbEnumResult result = list->Interface(index, path);
    if (result == UsbEnumResult::kNoMoreItems) break;
    if (result == UsbEnumResult::kOk) paths.push_back(path);
  }
  return paths;
}

std::unique_ptr<IUsbBus> CreateUsbBusFromEnvironment() {
  const char* directory = std::getenv("TAVRIX_USB_BUS");
  if (directory != nullptr && *directory != '\0') {
    auto bus = std::make_unique<CEmulatedUsbBus>(directory);
    // Simulated devices only: a test may shorten how long a read waits for a device that
    // stopped answering.
    if (const char* bound = std::getenv("TAVRIX_USB_READ_BOUND")) {
      long milliseconds = std::strtol(bound, nullptr, 10);
      if (milliseconds > 0) bus->SetReadBound(std::chrono::milliseconds(milliseconds));
    }
    return bus;
  }
  return std::make_unique<CLibUsbBus>();
}

namespace {
std::atomic<IUsbBus*> g_installed{nullptr};

IUsbBus& EnvironmentBus() {
  static std::once_flag once;
  static std::unique_ptr<IUsbBus> bus;  // lives for the whole run
  std::call_once(once, [] { bus = CreateUsbBusFromEnvironment(); });
  return *bus;
}
}  // namespace

IUsbBus& UsbBus() {
  IUsbBus* installed = g_installed.load();
  return installed != nullptr ? *installed : EnvironmentBus();
}

void SetUsbBus(IUsbBus* bus) { g_installed = bus; }

CUsbBusScope::CUsbBusScope(IUsbBus& bus) : m_previous(g_installed.load()) { SetUsbBus(&bus); }

CUsbBusScope::~CUsbBusScope() { SetUsbBus(m_previous); }

bool IsKnownPipe(const std::string& pipe) {
  return pipe.empty() || EqualsIgnoringAsciiCase(pipe, "pipe02") || EqualsIgnoringAsciiCase(pipe, "pipe03");
}

void SplitPipePath(const std::string& path, std::string& devicePath, std::string& pipe) {
  auto slash = path.rfind('\\');
  if (slash == std::string::npos) {
    devicePath = path;
    pipe.clear();
    return;
  }
  devicePath = path.substr(0, slash);
  pipe = path.substr(slash + 1);
}

std::string DevicePathField(const std::string& devicePath) {
  auto first = devicePath.find('#');
  if (first == std::string::npos) return {};
  auto second = devicePath.find('#', first + 1);
  if (second == std::string::npos) return {};
  auto third = devicePath.find('#', second + 1);
  if (third == std::string::npos) return {};
  return devicePath.substr(second + 1, third - second - 1);
}

std::optional<std::uint16_t> ProductIdOfPath(const std::string& devicePath) {
  auto at = devicePath.find("pid_");
  if (at == std::string::npos || at + 8 > devicePath.size()) return std::nullopt;
  const char* first = devicePath.data() + at + 4;
  std::uint16_t value = 0;
  auto [end, error] = std::from_chars(first, first + 4, value, 16);
  if (error != std::errc() || end != first + 4) return std::nullopt;
  return value;
}

std::string IUsbBus::StableId(const std::string& devicePath) { return DevicePathField(devicePath); }
