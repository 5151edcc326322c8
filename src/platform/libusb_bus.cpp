#include "platform/libusb_bus.h"

#include <libusb.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>

#include "platform/ascii_text.h"
#include "platform/sysfs_device_tree.h"
#include "platform/text_format.h"
#include "platform/usb_products.h"

namespace {

constexpr char kProductPrefix[] = "Tavrix";

}  // namespace

struct CLibUsbBus::Device {
  libusb_device* device = nullptr;  // referenced while the scan's list lives
  std::string path;
  std::string location;
  std::string guid;  // lower case
  int interfaceNumber = -1;
  unsigned char inEndpoint = 0;
  unsigned char outEndpoint = 0;
};

struct CLibUsbBus::Connection {
  Connection(libusb_device_handle* h, int number, unsigned char in, unsigned char out)
      : handle(h), interfaceNumber(number), inEndpoint(in), outEndpoint(out) {}
  ~Connection() {
    libusb_release_interface(handle, interfaceNumber);
    libusb_close(handle);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  libusb_device_handle* handle;
  int interfaceNumber;
  unsigned char inEndpoint;
  unsigned char outEndpoint;
};

namespace {

// A device list that releases itself, and the devices in it.
class CDeviceList {
 public:
  explicit CDeviceList(libusb_context* context) {
    ssize_t count = context != nullptr ? libusb_get_device_list(context, &m_list) : 0;
    m_count = count > 0 ? static_cast<std::size_t>(count) : 0;
  }
  ~CDeviceList() {
    if (m_list != nullptr) libusb_free_device_list(m_list, 1);
  }
  CDeviceList(const CDeviceList&) = delete;
  CDeviceList& operator=(const CDeviceList&) = delete;
  libusb_device* operator[](std::size_t i) const { return m_list[i]; }
  std::size_t size() const { return m_count; }

 private:
  libusb_device** m_list = nullptr;
  std::size_t m_count = 0;
};

std::string LocationText(libusb_device* device) {
  std::uint8_t ports[8];
  int count = libusb_get_port_numbers(device, ports, sizeof(ports));
  if (count <= 0) return {};  // a root hub
  std::string location = std::to_string(libusb_get_bus_number(device)) + "-";
  for (int i = 0; i < count; ++i) {
    if (i > 0) location += '.';
    location += std::to_string(ports[i]);
  }
  return location;
}

// The first interface with a bulk IN and a bulk OUT endpoint; false when there is none.
bool FindBulkInterface(libusb_device* device, int& number, unsigned char& in, unsigned char& out) {
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS &&
      libusb_get_config_descriptor(device, 0, &config) != LIBUSB_SUCCESS) {
    return false;
  }
  bool found = false;
  for (int i = 0; i < config->bNumInterfaces && !found; ++i) {
    if (config->interface[i].num_altsetting < 1) continue;
    const libusb_interface_descriptor& setting = config->interface[i].altsetting[0];
    in = out = 0;
    for (int e = 0; e < setting.bNumEndpoints; ++e) {
      const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
      if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) continue;
      bool isIn = (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
      if (isIn && in == 0) in = endpoint.bEndpointAddress;
      if (!isIn && out == 0) out = endpoint.bEndpointAddress;
    }
    if (in != 0 && out != 0) {
      number = setting.bInterfaceNumber;
      found = true;
    }
  }
  libusb_free_config_descriptor(config);
  return found;
}

UsbOpenError OpenErrorOf(int code) {
  switch (code) {
    case LIBUSB_ERROR_ACCESS: return UsbOpenError::kPermissionDenied;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND: return UsbOpenError::kNotFound;
    case LIBUSB_ERROR_BUSY: return UsbOpenError::kBusy;
    default: return UsbOpenError::kFailed;
  }
}

unsigned TimeoutOf(const IUsbBus& bus) {
  auto milliseconds = bus.ReadBound().count();
  return static_cast<unsigned>(std::clamp<long long>(milliseconds, 1, UINT_MAX));
}

class CLibUsbHandle : public IUsbHandle {
 public:
  CLibUsbHandle(std::shared_ptr<CLibUsbBus::Connection> connection, UsbAccess access,
                const IUsbBus& bus)
      : m_connection(std::move(connection)), m_access(access), m_bus(bus) {}

  long ReadPacket(std::uint8_t* buffer, std::size_t capacity) override {
    if (m_access == UsbAccess::kWrite) return -1;
    int transferred = 0;
    int result = libusb_bulk_transfer(m_connection->handle, m_connection->inEndpoint, buffer,
                                      static_cast<int>(capacity), &transferred, TimeoutOf(m_bus));
    if (result == LIBUSB_SUCCESS || (result == LIBUSB_ERROR_TIMEOUT && transferred > 0)) {
      return transferred;
    }
    return -1;
  }

  long WritePacket(const std::uint8_t* data, std::size_t length) override {
    if (m_access == UsbAccess::kRead || length > INT_MAX) return -1;
    int transferred = 0;
    // libusb takes a non-const buffer for both directions; an OUT transfer only reads it.
    int result = libusb_bulk_transfer(m_connection->handle, m_connection->outEndpoint,
                                      const_cast<std::uint8_t*>(data), static_cast<int>(length),
                                      &transferred, TimeoutOf(m_bus));
    if (result == LIBUSB_SUCCESS || (result == LIBUSB_ERROR_TIMEOUT && transferred > 0)) {
      return transferred;
    }
    return -1;
  }

 private:
  std::shared_ptr<CLibUsbBus::Connection> m_connection;
  UsbAccess m_access;
  const IUsbBus& m_bus;
};

}  // namespace

CLibUsbBus::CLibUsbBus(std::string sysfsRoot) : m_sysfsRoot(std::move(sysfsRoot)) {
  // Under a umockdev testbed (the USB bridge's tests) the devices are simulated: a test may
  // shorten the read bound there, so that a device that stops answering fails quickly. Real
  // devices always get the generous bound.
  const char* testbed = std::getenv("UMOCKDEV_DIR");
  const char* bound = std::getenv("TAVRIX_USB_READ_BOUND");
  if (testbed != nullptr && *testbed != '\0' && bound != nullptr) {
    long milliseconds = std::strtol(bound, nullptr, 10);
    if (milliseconds > 0) SetReadBound(std::chrono::milliseconds(milliseconds));
  }
}

CLibUsbBus::~CLibUsbBus() {
  if (m_context != nullptr) libusb_exit(m_context);
}

bool CLibUsbBus::Start() {
  std::lock_guard lock(m_mutex);
  if (!m_started) {
    m_started = true;
    if (libusb_init(&m_context) != LIBUSB_SUCCESS) m_context = nullptr;
  }
  return m_context != nullptr;
}

std::string CLibUsbBus::LocationOf(const std::string& devicePath) {
  // usb#vid_vvvv&pid_pppp#<location>#{guid}
  if (devicePath.rfind("usb#vid_", 0) != 0 || devicePath.size() < 22 || devicePath[21] != '#') {
    return {};
  }
  auto end = devicePath.find('#', 22);
  if (end == std::string::npos) return {};
  return devicePath.substr(22, end - 22);
}

std::string CLibUsbBus::ProductString(libusb_device* device, const std::string& location) const {
  if (auto product = CSysfsDeviceTree::ReadAttribute(m_sysfsRoot + "/" + location + "/product")) {
    return *product;
  }
  // Without sysfs, the string descriptor can only be read from an opened device.
  libusb_device_descriptor descriptor{};
  libusb_device_handle* handle = nullptr;
  if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS ||
      descriptor.iProduct == 0 || libusb_open(device, &handle) != LIBUSB_SUCCESS) {
    return {};
  }
  unsigned char text[256] = {};
  int length = libusb_get_string_descriptor_ascii(handle, descriptor.iProduct, text, sizeof(text) - 1);
  libusb_close(handle);
  return length > 0 ? std::string(reinterpret_cast<char*>(text), static_cast<std::size_t>(length))
                    : std::string{};
}

void CLibUsbBus::RefreshIfBehind() {
  // libusb keeps its device list from hot-plug events. When several devices are enumerated
  // anew at the same moment (identical interfaces reset side by side), a process has been seen
  // to miss one of them for good, and a device that came back would never be found again. So
  // the list is compared with sysfs, and when a device there is missing from it and no device
  // is open, libusb is started afresh, which enumerates from sysfs.
  std::set<std::string> listed;
  {
    CDeviceList list(m_context);
    for (std::size_t i = 0; i < list.size(); ++i) listed.insert(LocationText(list[i]));
  }
  static const std::regex kLocation(R"(\d+-\d+(\.\d+)*)");
  std::error_code error;
  bool behind = false;
  for (const auto& entry : std::filesystem::directory_iterator(m_sysfsRoot, error)) {
    const std::string name = entry.path().filename().string();
    if (!std::regex_match(name, kLocation) || listed.count(name) != 0) continue;
    behind = std::filesystem::exists(entry.path() / "idVendor", error);
    if (behind) break;
  }
  if (!behind || m_connections.AnyOpen()) return;
  std::lock_guard lock(m_mutex);
  libusb_exit(m_context);
  if (libusb_init(&m_context) != LIBUSB_SUCCESS) m_context = nullptr;
}

std::vector<CLibUsbBus::Device> CLibUsbBus::Scan() {
  std::vector<Device> devices;
  if (!Start()) return devices;
  RefreshIfBehind();
  if (m_context == nullptr) return devices;
  CDeviceList list(m_context);
  for (std::size_t i = 0; i < list.size(); ++i) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(list[i], &descriptor) != LIBUSB_SUCCESS) continue;
    Device device;
    device.device = list[i];
    device.location = LocationText(list[i]);
    if (device.location.empty()) continue;
    if (!FindBulkInterface(list[i], device.interfaceNumber, device.inEndpoint, device.outEndpoint)) {
      continue;
    }
    if (ProductString(list[i], device.location).rfind(kProductPrefix, 0) != 0) continue;
    device.guid = ToLowerAscii(UsbInterfaceGuidOf(descriptor.idProduct));
    device.path = FormatText("usb#vid_%04x&pid_%04x#%s#{%s}", descriptor.idVendor,
                             descriptor.idProduct, device.location.c_str(), device.guid.c_str());
    devices.push_back(std::move(device));
  }
  std::sort(devices.begin(), devices.end(),
            [](const Device& a, const Device& b) { return a.path < b.path; });
  for (auto& device : devices) device.device = nullptr;  // the list is gone after the scan
  return devices;
}

std::unique_ptr<IUsbInterfaceList> CLibUsbBus::ListInterfaces(std::string_view interfaceGuid) {
  std::string wanted = ToLowerAscii(interfaceGuid);
  std::vector<std::string> paths;
  for (const auto& device : Scan()) {
    if (device.guid == wanted) paths.push_back(device.path);
  }
  return std::make_unique<CUsbInterfaceVector>(std::move(paths));
}

std::unique_ptr<IUsbHandle> CLibUsbBus::Open(const std::string& path, UsbAccess access,
                                             UsbOpenError* error) {
  UsbOpenError reason = UsbOpenError::kNotFound;
  auto report = [&](UsbOpenError value) {
    if (error != nullptr) *error = value;
  };
  std::string devicePath;
  std::string pipe;
  SplitPipePath(path, devicePath, pipe);
  if (!IsKnownPipe(pipe) || !Start()) {
    report(reason);
    return nullptr;
  }
  std::shared_ptr<Connection> connection = m_connections.Share(devicePath, pipe, [&] {
    return Connect(devicePath, reason);
  });
  if (!connection) {
    report(reason);
    return nullptr;
  }
  report(UsbOpenError::kNone);
  return std::make_unique<CLibUsbHandle>(std::move(connection), access, *this);
}

std::shared_ptr<CLibUsbBus::Connection> CLibUsbBus::Connect(const std::string& devicePath, UsbOpenError& reason) {
  std::shared_ptr<Connection> connection;
  CDeviceList list(m_context);
  for (std::size_t i = 0; i < list.size() && !connection; ++i) {
    if (LocationText(list[i]) != LocationOf(devicePath)) continue;
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(list[i], &descriptor) != LIBUSB_SUCCESS) continue;
    std::string prefix = FormatText("usb#vid_%04x&pid_%04x#", descriptor.idVendor, descriptor.idProduct);
    if (devicePath.rfind(prefix, 0) != 0) continue;
    int number = -1;
    unsigned char in = 0;
    unsigned char out = 0;
    if (!FindBulkInterface(list[i], number, in, out)) continue;
    libusb_device_handle* handle = nullptr;
    int result = libusb_open(list[i], &handle);
    if (result != LIBUSB_SUCCESS) {
      reason = OpenErrorOf(result);
      break;
    }
    libusb_set_auto_detach_kernel_driver(handle, 1);
    result = libusb_claim_interface(handle, number);
    if (result != LIBUSB_SUCCESS) {
      libusb_close(handle);
      reason = OpenErrorOf(result);
      break;
    }
    connection = std::make_shared<Connection>(handle, number, in, out);
  }
  return connection;
}

std::string CLibUsbBus::FriendlyName(const std::string& devicePath) {
  std::string location = LocationOf(devicePath);
  if (location.empty()) return {};
  return CSysfsDeviceTree::ReadAttribute(m_sysfsRoot + "/" + location + "/product").value_or("");
}

std::string CLibUsbBus::StableId(const std::string& devicePath) {
  std::string location = LocationOf(devicePath);
  if (location.empty()) return {};
  std::string serial = CSysfsDeviceTree::ReadAttribute(m_sysfsRoot + "/" + location + "/serial").value_or("");
  return serial.empty() ? location : serial;
}

bool CLibUsbBus::PortReset(const std::string& location) {
  if (!Start()) return false;
  CDeviceList list(m_context);
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (LocationText(list[i]) != location) continue;
    libusb_device_handle* handle = nullptr;
    if (libusb_open(list[i], &handle) != LIBUSB_SUCCESS) return false;
    int result = libusb_reset_device(handle);
    libusb_close(handle);
    // NOT_FOUND: the device came back as a new one, which is what a reset is for.
    return result == LIBUSB_SUCCESS || result == LIBUSB_ERROR_NOT_FOUND;
  }
  return false;
}

std::unique_ptr<IDeviceTree> CLibUsbBus::OpenDeviceTree() {
  return std::make_unique<CSysfsDeviceTree>(
      m_sysfsRoot, [this](const std::string& location) { return PortReset(location); });
}

bool CLibUsbBus::Eject(const std::string& devicePath) {
  std::string location = LocationOf(devicePath);
  if (location.empty()) return false;
  CSysfsDeviceTree tree(m_sysfsRoot, [this](const std::string& name) { return PortReset(name); });
  for (DevNode node = 1; node < tree.NodeCount(); ++node) {
    if (tree.NodeAt(node).id != location) continue;
    std::uint32_t veto = 0;
    std::string vetoName;
    return tree.RequestEject(node, veto, vetoName) == CR_SUCCESS;
  }
  return false;
}
