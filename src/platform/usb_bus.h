#pragma once
// The USB bus port: what the USB transport needs of the vendor driver. It lists the present
// device interfaces of an interface class by device path, opens a device path or one of its
// bulk pipes ("<path>\PIPE02" in, "<path>\PIPE03" out), moves one packet per call and makes a
// device start again. Two implementations: libusb for real devices (CLibUsbBus) and the
// emulated bus of simulated devices (CEmulatedUsbBus), chosen by TAVRIX_USB_BUS.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class IDeviceTree;

// The driver's two interface classes.
inline constexpr char kUsbFirstGenerationGuid[] = "0C4D7E91-2B6A-4F38-9C05-D18E6A27B3F4";
inline constexpr char kUsbSecondGenerationGuid[] = "5B1E2C47-9D03-4A6F-8E21-3C7D90B4F152";

enum class UsbAccess { kRead, kWrite, kReadWrite };

// Why an open failed. kPermissionDenied is kept apart: a device that is there but may not be
// opened by this user is the most common trouble with USB devices on Linux.
enum class UsbOpenError { kNone, kNotFound, kPermissionDenied, kBusy, kFailed };

// An open device or pipe. Transfers block the caller.
class IUsbHandle {
 public:
  virtual ~IUsbHandle() = default;
  // Reads one bulk IN packet of at most `capacity` bytes: its length (0 for an empty packet),
  // or -1 on a transfer error or when no packet came within the bus's read bound.
  virtual long ReadPacket(std::uint8_t* buffer, std::size_t capacity) = 0;
  // Sends `length` bytes as one bulk OUT transfer: the bytes written, or -1 on an error.
  virtual long WritePacket(const std::uint8_t* data, std::size_t length) = 0;
};

enum class UsbEnumResult { kOk, kNoMoreItems, kFailed, kDetailFailed };

// The interfaces of one class present when the list was made, by enumeration index.
class IUsbInterfaceList {
 public:
  virtual ~IUsbInterfaceList() = default;
  // The device path of the interface at `index`; kNoMoreItems after the last one.
  virtual UsbEnumResult Interface(unsigned index, std::string& devicePath) = 0;
};

// A list made of device paths in enumeration order.
class CUsbInterfaceVector : public IUsbInterfaceList {
 public:
  explicit CUsbInterfaceVector(std::vector<std::string> paths) : m_paths(std::move(paths)) {}
  UsbEnumResult Interface(unsigned index, std::string& devicePath) override;

 private:
  std::vector<std::string> m_paths;
};

class IUsbBus {
 public:
  static constexpr std::chrono::milliseconds kDefaultReadBound{30000};

  virtual ~IUsbBus() = default;

  // What the bus is, for messages and traces ("libusb", "emulated bus /tmp/bus").
  virtual std::string Description() const = 0;
  // The present interfaces of the class with this GUID (any letter case); nullptr when the
  // list cannot be made.
  virtual std::unique_ptr<IUsbInterfaceList> ListInterfaces(std::string_view interfaceGuid) = 0;
  // Opens a device path, or a pipe below it; nullptr on failure, with the reason in `error`.
  virtual std::unique_ptr<IUsbHandle> Open(const std::string& path, UsbAccess access,
                                           UsbOpenError* error = nullptr) = 0;
  // The friendly name of the device behind a device path (its USB product string); empty when
  // it has none.
  virtual std::string FriendlyName(const std::string& devicePath) = 0;
  // Makes the device behind a device path start again; true when that was asked for.
  virtual bool Eject(const std::string& devicePath) = 0;
  // The device tree of this bus; nullptr when there is none.
  virtual std::unique_ptr<IDeviceTree> OpenDeviceTree() = 0;
  // The id that names the device behind a device path across its own resets: its USB serial
  // number when it has one, else where it is plugged in. The default is the path's third
  // field (the serial on the emulated bus).
  virtual std::string StableId(const std::string& devicePath);
  // The id of the device's node in OpenDeviceTree's tree. The default is the device path.
  virtual std::string DeviceNodeId(const std::string& devicePath) { return devicePath; }

  // How long one packet read may wait before it fails. A dead device never hangs the program.
  std::chrono::milliseconds ReadBound() const { return m_readBound; }
  void SetReadBound(std::chrono::milliseconds bound) { m_readBound = bound; }

 private:
  std::chrono::milliseconds m_readBound = kDefaultReadBound;
};

// The device paths of the present interfaces of a class, in enumeration order (empty when the
// list cannot be made; entries that cannot be read are left out).
std::vector<std::string> EnumerateInterfaces(IUsbBus& bus, std::string_view interfaceGuid);

// The third '#'-separated field of a device path "usb#vid_VVVV&pid_PPPP#FIELD#{GUID}"; empty
// when the path has no such field.
std::string DevicePathField(const std::string& devicePath);
// The product id a device path names ("pid_PPPP"); nothing when it names none.
std::optional<std::uint16_t> ProductIdOfPath(const std::string& devicePath);

// The bus the environment asks for: the emulated bus in TAVRIX_USB_BUS when it names a
// directory, libusb otherwise.
std::unique_ptr<IUsbBus> CreateUsbBusFromEnvironment();

// The bus in use: the one SetUsbBus installed, else the environment's (made on first use).
IUsbBus& UsbBus();
// Installs `bus` (not owned; nullptr goes back to the environment's bus).
void SetUsbBus(IUsbBus* bus);

// Installs a bus for the lifetime of a scope (tests).
class CUsbBusScope {
 public:
  explicit CUsbBusScope(IUsbBus& bus);
  ~CUsbBusScope();
  CUsbBusScope(const CUsbBusScope&) = delete;
  CUsbBusScope& operator=(const CUsbBusScope&) = delete;

 private:
  IUsbBus* m_previous;
};

// Splits "<path>\PIPEnn" into the device path and the pipe name (empty for the path itself).
void SplitPipePath(const std::string& path, std::string& devicePath, std::string& pipe);
// True for no pipe (the device path itself) and for the two bulk pipes, in any letter case.
bool IsKnownPipe(const std::string& pipe);

// The connections of a bus's open devices. The first-generation driver opens a device's two
// pipes one by one, and both handles share one connection while either is open; the device
// path itself gets a connection of its own each time.
template <class Connection>
class CPipeConnections {
 public:
  using Connect = std::function<std::shared_ptr<Connection>()>;

  // The connection for `pipe` of `devicePath`: the shared one when a pipe of the device is
  // open already, else a new one from `connect` (nullptr when that fails).
  std::shared_ptr<Connection> Share(const std::string& devicePath, const std::string& pipe, const Connect& connect) {
    if (pipe.empty()) return connect();
    std::lock_guard lock(m_mutex);
    std::shared_ptr<Connection> connection = m_connections[devicePath].lock();
    if (!connection) {
      connection = connect();
      if (connection) m_connections[devicePath] = connection;
    }
    return connection;
  }

  // Whether any connection is still in use.
  bool AnyOpen() {
    std::lock_guard lock(m_mutex);
    return std::any_of(m_connections.begin(), m_connections.end(), [](const auto& entry) { return !entry.second.expired(); });
  }

 private:
  std::mutex m_mutex;
  std::map<std::string, std::weak_ptr<Connection>> m_connections;
};
