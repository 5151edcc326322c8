#include "platform/sysfs_device_tree.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/clock.h"
#include "platform/text_format.h"
#include "platform/wire_trace.h"

namespace fs = std::filesystem;

namespace {

// Sort key of a sysfs USB name: root hubs ("usb3") before devices, then bus and ports as
// numbers, so that "1-10" follows "1-9".
std::vector<long> SortKey(const std::string& name) {
  std::vector<long> key;
  if (name.rfind("usb", 0) == 0) {
    key.push_back(0);
    key.push_back(std::strtol(name.c_str() + 3, nullptr, 10));
    return key;
  }
  key.push_back(1);
  const char* p = name.c_str();
  while (*p != '\0') {
    char* end = nullptr;
    key.push_back(std::strtol(p, &end, 10));
    if (end == p) break;
    p = (*end == '-' || *end == '.') ? end + 1 : end;
  }
  return key;
}

// The sysfs name of the parent of a device or root hub ("" for the tree's root).
std::string ParentName(const std::string& name) {
  if (name.rfind("usb", 0) == 0) return {};
  auto dot = name.rfind('.');
  if (dot != std::string::npos) return name.substr(0, dot);
  auto dash = name.find('-');
  if (dash == std::string::npos) return {};
  return "usb" + name.substr(0, dash);
}

bool IsDeviceName(const std::string& name) {
  if (name.find(':') != std::string::npos) return false;  // an interface
  if (name.rfind("usb", 0) == 0) return name.size() > 3;
  return !name.empty() && name.find('-') != std::string::npos;
}

}  // namespace

CSysfsDeviceTree::CSysfsDeviceTree(std::string root,
                                   std::function<bool(const std::string&)> portReset)
    : m_root(std::move(root)), m_portReset(std::move(portReset)) {
  ReadTree();
}

std::optional<std::string> CSysfsDeviceTree::ReadAttribute(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::string line;
  std::getline(in, line);  // an empty file gives an empty text
  return line;
}

void CSysfsDeviceTree::ReadTree() {
  std::error_code error;
  if (!fs::is_directory(m_root, error)) return;
  m_rootFound = true;

  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(m_root, error)) {
    std::string name = entry.path().filename().string();
    if (IsDeviceName(name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return SortKey(a) < SortKey(b); });

  // Parents sort before their children, so each parent is already a node when its child comes.
  std::map<std::string, DevNode> handles;
  for (const auto& name : names) {
    auto parent = handles.find(ParentName(name));
    DevNode parentNode = parent != handles.end() ? parent->second : 0;
    std::string folder = m_root + "/" + name;
    bool rootHub = name.rfind("usb", 0) == 0;
    // Many hubs cannot tell whether a port is external ("unknown"); only a port known to be
    // built in ("fixed") keeps its device from being ejected on its own. A root hub is part of
    // the computer.
    auto removable = ReadAttribute(folder + "/removable");
    bool isRemovable = !rootHub && removable.has_value() && *removable != "fixed";
    handles[name] = AddNode(parentNode, name, ReadAttribute(folder + "/product"),
                            isRemovable ? DN_REMOVABLE : 0);
  }
}

ConfigRet CSysfsDeviceTree::LocateRoot(DevNode& root) {
  if (!m_rootFound) return CR_NO_SUCH_DEVNODE;
  return CSnapshotDeviceTree::LocateRoot(root);
}

bool CSysfsDeviceTree::WriteAuthorized(const std::string& name, const char* value, int& error) const {
  std::ofstream out(m_root + "/" + name + "/authorized");
  if (!out) {
    error = errno;
    return false;
  }
  out << value << std::flush;
  if (!out) {
    error = errno;
    return false;
  }
  return true;
}

ConfigRet CSysfsDeviceTree::RequestEject(DevNode node, std::uint32_t& vetoType, std::string& vetoName) {
  vetoType = 0;
  vetoName.clear();
  if (!IsNode(node) || node == 0) return CR_INVALID_DEVNODE;
  const std::string& name = NodeAt(node).id;
  int error = 0;
  if (WriteAuthorized(name, "0", error)) return Reauthorise(name);
  if (m_portReset && m_portReset(name)) return CR_SUCCESS;
  return (error == EACCES || error == EPERM || error == EROFS) ? CR_ACCESS_DENIED : CR_FAILURE;
}

ConfigRet CSysfsDeviceTree::Reauthorise(const std::string& name) {
  for (int attempt = 1; attempt <= kAuthoriseAttempts; ++attempt) {
    int error = 0;
    if (WriteAuthorized(name, "1", error)) return CR_SUCCESS;
    TraceEvent(name, FormatText("eject: authorized=1 failed (%s), try %d of %d", std::strerror(error),
                                attempt, kAuthoriseAttempts));
    if (attempt < kAuthoriseAttempts) Clock().Sleep(kAuthoriseRetryWait);
  }
  // A port reset makes the kernel enumerate the device anew; whether it is on again is what
  // its `authorized` file says afterwards.
  bool reset = m_portReset && m_portReset(name);
  if (reset && ReadAttribute(m_root + "/" + name + "/authorized") == "1") {
    TraceEvent(name, "eject: a port reset switched the device on again");
    return CR_SUCCESS;
  }
  TraceEvent(name, reset ? "eject: the device stays switched off after a port reset"
                         : "eject: the device stays switched off; a port reset was not possible");
  return CR_DEVICE_NOT_THERE;
}
