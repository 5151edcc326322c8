#include "platform/selected_device_bus.h"

#include <thread>

#include "platform/device_tree.h"

namespace {

// Forwards every call to the bus's tree, but names only the nodes in `named`.
class CSelectedDeviceTree : public IDeviceTree {
 public:
  CSelectedDeviceTree(std::unique_ptr<IDeviceTree> tree, std::set<std::string> named)
      : m_tree(std::move(tree)), m_named(std::move(named)) {}

  bool Provides(DevNodeOperation operation) const override { return m_tree->Provides(operation); }
  ConfigRet LocateRoot(DevNode& root) override { return m_tree->LocateRoot(root); }
  ConfigRet GetChild(DevNode node, DevNode& child) override { return m_tree->GetChild(node, child); }
  ConfigRet GetSibling(DevNode node, DevNode& sibling) override { return m_tree->GetSibling(node, sibling); }
  ConfigRet GetStatus(DevNode node, std::uint32_t& status, std::uint32_t& problem) override {
    return m_tree->GetStatus(node, status, problem);
  }
  ConfigRet GetDeviceIdSize(DevNode node, std::uint32_t& size) override { return m_tree->GetDeviceIdSize(node, size); }
  ConfigRet GetDeviceId(DevNode node, std::string& id) override { return m_tree->GetDeviceId(node, id); }
  ConfigRet RequestEject(DevNode node, std::uint32_t& vetoType, std::string& vetoName) override {
    return m_tree->RequestEject(node, vetoType, vetoName);
  }
  std::optional<std::string> FriendlyName(const std::string& deviceId) override {
    if (m_named.count(deviceId) == 0) return std::nullopt;
    return m_tree->FriendlyName(deviceId);
  }

 private:
  std::unique_ptr<IDeviceTree> m_tree;
  std::set<std::string> m_named;
};

}  // namespace

CSelectedDeviceBus::CSelectedDeviceBus(IUsbBus& bus, std::string deviceId)
    : m_bus(bus), m_deviceId(std::move(deviceId)) {
  SetReadBound(bus.ReadBound());
}

std::string CSelectedDeviceBus::Description() const { return m_bus.Description() + ", device " + m_deviceId; }

bool CSelectedDeviceBus::IsSelected(const std::string& devicePath) { return m_bus.StableId(devicePath) == m_deviceId; }

bool CSelectedDeviceBus::IsPresent() {
  // A device being enumerated (just plugged in, or read while the bus is busy) can miss one
  // listing; it is looked for a little longer before it counts as not attached.
  const auto deadline = std::chrono::steady_clock::now() + kPresenceBound;
  while (true) {
    for (const char* guid : {kUsbFirstGenerationGuid, kUsbSecondGenerationGuid}) {
      if (!EnumerateInterfaces(*this, guid).empty()) return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

std::unique_ptr<IUsbInterfaceList> CSelectedDeviceBus::ListInterfaces(std::string_view interfaceGuid) {
  if (!m_bus.ListInterfaces(interfaceGuid)) return nullptr;
  std::vector<std::string> paths;
  for (auto& path : EnumerateInterfaces(m_bus, interfaceGuid)) {
    if (IsSelected(path)) paths.push_back(std::move(path));
  }
  return std::make_unique<CUsbInterfaceVector>(std::move(paths));
}

std::unique_ptr<IUsbHandle> CSelectedDeviceBus::Open(const std::string& path, UsbAccess access, UsbOpenError* error) {
  std::string devicePath;
  std::string pipe;
  SplitPipePath(path, devicePath, pipe);
  if (!IsSelected(devicePath)) {
    if (error != nullptr) *error = UsbOpenError::kNotFound;
    return nullptr;
  }
  m_bus.SetReadBound(ReadBound());
  return m_bus.Open(path, access, error);
}

bool CSelectedDeviceBus::Eject(const std::string& devicePath) {
  return IsSelected(devicePath) && m_bus.Eject(devicePath);
}

std::unique_ptr<IDeviceTree> CSelectedDeviceBus::OpenDeviceTree() {
  std::set<std::string> named;
  for (const char* guid : {kUsbFirstGenerationGuid, kUsbSecondGenerationGuid}) {
    for (const auto& path : EnumerateInterfaces(*this, guid)) named.insert(m_bus.DeviceNodeId(path));
  }
  auto tree = m_bus.OpenDeviceTree();
  if (!tree) return nullptr;
  return std::make_unique<CSelectedDeviceTree>(std::move(tree), std::move(named));
}
