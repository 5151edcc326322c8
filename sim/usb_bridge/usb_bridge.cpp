#include "sim/usb_bridge/usb_bridge.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <optional>

#include "platform/text_format.h"
#include "sim/sim_socket.h"

namespace {

constexpr int kUsbMajor = 189;
// A device that keeps its socket through an eject is taken as back once it accepts a
// connection after this long.
constexpr auto kSameSocketComeback = std::chrono::milliseconds(1000);

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (std::uint8_t byte : bytes) text += FormatText("%02X", byte);
  return text;
}

// An attribute value in the testbed's record format: one line, backslashes escaped.
std::string RecordValue(const std::string& text) {
  std::string value;
  for (char c : text) {
    if (c == '\\') value += "\\\\";
    else if (c != '\n' && c != '\r') value += c;
  }
  return value + "\\n";
}

std::optional<std::string> FirstLine(const std::filesystem::path& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

struct CUsbBridge::Appearance {
  std::unique_ptr<CBridgeDevice> Device;
  std::string SysPath;  // /sys/devices/usb1/1-N
  int AuthorizedFd = -1;  // the attribute's pipe, read and held open for writing
  bool Deauthorized = false;
};

CUsbBridge::CUsbBridge(CUsbBridgeOptions options)
    : m_options(std::move(options)), m_testbed(umockdev_testbed_new()) {
  gchar* root = umockdev_testbed_get_root_dir(m_testbed);
  m_root = root;
  g_free(root);
  AddRootHub();
  Scan();
}

CUsbBridge::~CUsbBridge() {
  for (auto& [name, slot] : m_slots) {
    if (slot.Present) Retire(slot);
  }
  m_left.clear();
  g_object_unref(m_testbed);
}

void CUsbBridge::AddRootHub() {
  // libusb places devices by their parent: the root hub must be there.
  std::vector<std::uint8_t> descriptors = {18, 1, 0x00, 0x02, 9, 0, 0, 64, 0x6b, 0x1d, 0x01, 0x00,
                                           0x00, 0x01, 0, 0, 0, 1,
                                           9, 2, 25, 0, 1, 1, 0, 0xE0, 0,
                                           9, 4, 0, 0, 1, 9, 0, 0, 0,
                                           7, 5, 0x81, 3, 4, 0, 12};
  std::string record = "P: /devices/usb1\nN: bus/usb/001/001\nE: SUBSYSTEM=usb\n"
                       "E: DEVTYPE=usb_device\nE: DRIVER=usb\nE: BUSNUM=001\nE: DEVNUM=001\n"
                       "E: DEVNAME=/dev/bus/usb/001/001\nA: busnum=1\\n\nA: devnum=1\\n\n"
                       "A: speed=480\\n\nA: bConfigurationValue=1\\n\nA: removable=unknown\\n\n"
                       "A: authorized=1\\n\nA: dev=189:0\\n\nH: descriptors=" +
                       HexBytes(descriptors) + "\n";
  umockdev_testbed_add_from_string(m_testbed, record.c_str(), nullptr);
}

void CUsbBridge::Serve(std::chrono::milliseconds wait) {
  std::vector<pollfd> fds;
  std::vector<std::string> names;
  for (auto& [name, slot] : m_slots) {
    if (slot.Present && slot.Present->AuthorizedFd >= 0) {
      fds.push_back({slot.Present->AuthorizedFd, POLLIN, 0});
      names.push_back(name);
    }
  }
  ::poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
  for (std::size_t i = 0; i < fds.size(); ++i) {
    if ((fds[i].revents & POLLIN) == 0) continue;
    auto slot = m_slots.find(names[i]);
    if (slot != m_slots.end() && slot->second.Present) ReadAuthorized(names[i], slot->second);
  }
  TakeResets();
  Scan();
}

void CUsbBridge::ReadAuthorized(const std::string& name, Slot& slot) {
  char bytes[64];
  ssize_t got = ::read(slot.Present->AuthorizedFd, bytes, sizeof bytes);
  for (ssize_t i = 0; i < got && slot.Present; ++i) {
    if (bytes[i] == '0') {
      // De-authorised: the interface is unbound and the device is no use until authorised.
      slot.Present->Deauthorized = true;
      slot.Present->Device->Leave();
    } else if (bytes[i] == '1' && slot.Present->Deauthorized) {
      Eject(name, slot, "authorized 0, 1");
    }
  }
}

void CUsbBridge::TakeResets() {
  std::vector<std::string> resets;
  {
    std::lock_guard lock(m_resetMutex);
    resets.swap(m_resets);
  }
  for (const std::string& node : resets) {
    for (auto& [name, slot] : m_slots) {
      if (slot.Present && slot.Present->Device->DevNode() == node) Eject(name, slot, "port reset");
    }
  }
}

void CUsbBridge::Scan() {
  std::map<std::string, ino_t> sockets;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(m_options.BusDirectory, error)) {
    std::string name = entry.path().filename().string();
    struct stat info {};
    if (!ParseBridgeDevicePath(name) || ::lstat(entry.path().c_str(), &info) != 0 ||
        !S_ISSOCK(info.st_mode)) {
      continue;
    }
    sockets[name] = info.st_ino;
  }
  for (const auto& [name, inode] : sockets) {  // new devices take ports in the bus's order
    Slot& slot = m_slots[name];
    if (slot.Port == 0) slot.Port = m_nextPort++;
  }
  auto now = std::chrono::steady_clock::now();
  for (auto& [name, slot] : m_slots) {
    auto socket = sockets.find(name);
    if (socket == sockets.end()) {
      if (slot.Present) Retire(slot);  // unplugged
      slot.AwayInode = 0;  // a socket made anew is back as soon as it is there
      continue;
    }
    if (slot.Present) continue;
    if (slot.Away) {
      bool sameSocket = socket->second == slot.AwayInode;
      if (sameSocket && now - slot.AwaySince < kSameSocketComeback) continue;
      if (!IsUnixSocketServed(m_options.BusDirectory / name)) continue;
    }
    Enumerate(name, slot);
  }
}

void CUsbBridge::Enumerate(const std::string& name, Slot& slot) {
  auto identity = ParseBridgeDevicePath(name);
  std::filesystem::path socketPath = m_options.BusDirectory / name;
  identity->Product = FirstLine(socketPath.string() + ".name");
  int number = m_nextDeviceNumber++;
  std::string node = FormatText("/dev/bus/usb/001/%03d", number);
  auto appearance = std::make_unique<Appearance>();
  appearance->Device = std::make_unique<CBridgeDevice>(socketPath, *identity, node, [this, node] {
    std::lock_guard lock(m_resetMutex);
    m_resets.push_back(node);
  });
  // The handler is in place before the node exists, so that the first open reaches it.
  umockdev_testbed_attach_ioctl(m_testbed, node.c_str(), appearance->Device->Handler(), nullptr);

  std::string sysName = FormatText("1-%d", slot.Port);
  std::string record = FormatText(
      "P: /devices/usb1/%s\nN: %s\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
      "E: BUSNUM=001\nE: DEVNUM=%03d\nE: DEVNAME=%s\nE: PRODUCT=%x/%x/100\n"
      "A: idVendor=%04x\\n\nA: idProduct=%04x\\n\nA: serial=%s\n"
      "A: removable=removable\\n\nA: authorized=1\\n\nA: busnum=1\\n\nA: devnum=%d\\n\n"
      "A: speed=12\\n\nA: bConfigurationValue=1\\n\nA: dev=%d:%d\\n\n",
      sysName.c_str(), node.c_str() + 5, number, node.c_str(), identity->VendorId,
      identity->ProductId, identity->VendorId, identity->ProductId,
      RecordValue(identity->Serial).c_str(), number, kUsbMajor, number - 1);
  if (identity->Product) record += "A: product=" + RecordValue(*identity->Product) + "\n";
  record += "H: descriptors=" + HexBytes(BridgeDescriptors(*identity)) + "\n";
  umockdev_testbed_add_from_string(m_testbed, record.c_str(), nullptr);
  appearance->SysPath = "/sys/devices/usb1/" + sysName;

  // `authorized` becomes a pipe, so that every value written reaches the bridge in order (a
  // file would only show the last one); fixed, it is a directory that nothing can write.
  std::string authorized = m_root + appearance->SysPath + "/authorized";
  std::filesystem::remove(authorized);
  if (m_options.FixedAuthorized) {
    std::filesystem::create_directory(authorized);
  } else if (::mkfifo(authorized.c_str(), 0644) == 0) {
    appearance->AuthorizedFd = ::open(authorized.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  }
  umockdev_testbed_uevent(m_testbed, appearance->SysPath.c_str(), "add");
  slot.Present = std::move(appearance);
  slot.Away = false;
  std::fprintf(stderr, "tavrix-usb-bridge: %s is %s at %s\n", name.c_str(), sysName.c_str(), node.c_str());
}

void CUsbBridge::Retire(Slot& slot) {
  std::unique_ptr<Appearance> appearance = std::move(slot.Present);
  appearance->Device->Leave();
  umockdev_testbed_uevent(m_testbed, appearance->SysPath.c_str(), "remove");
  umockdev_testbed_remove_device(m_testbed, appearance->SysPath.c_str());
  std::error_code ignored;
  std::filesystem::remove(m_root + appearance->Device->DevNode(), ignored);
  if (appearance->AuthorizedFd >= 0) ::close(appearance->AuthorizedFd);
  // Files of the node may still be open in the program; its handler answers them ENODEV.
  m_left.push_back(std::move(appearance->Device));
}

void CUsbBridge::Eject(const std::string& name, Slot& slot, const char* how) {
  std::fprintf(stderr, "tavrix-usb-bridge: %s ejected (%s)\n", name.c_str(), how);
  std::filesystem::path socketPath = m_options.BusDirectory / name;
  struct stat info {};
  slot.AwayInode = ::lstat(socketPath.c_str(), &info) == 0 ? info.st_ino : 0;
  int fd = ConnectUnixSocket(socketPath);
  if (fd >= 0) {
    const std::uint8_t ejectFrame[2] = {0xFF, 0xFF};
    [[maybe_unused]] ssize_t sent = ::write(fd, ejectFrame, sizeof ejectFrame);
    ::close(fd);
  }
  Retire(slot);
  slot.Away = true;
  slot.AwaySince = std::chrono::steady_clock::now();
}
