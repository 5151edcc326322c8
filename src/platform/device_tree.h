#pragma once
// The device tree port: the operating system's tree of device nodes as the eject helper walks
// it (root, first child, next sibling, status, device id, friendly name, eject request).
// Results are the configuration manager's return values, so the walk's result codes keep
// their meaning on every implementation: sysfs for real devices, the emulated bus, and the
// tests' fake tree.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using DevNode = std::uint32_t;

enum ConfigRet : std::uint32_t {
  CR_SUCCESS = 0x00,
  CR_INVALID_DEVNODE = 0x05,
  CR_NO_SUCH_DEVNODE = 0x0D,
  CR_FAILURE = 0x13,
  CR_REMOVE_VETOED = 0x17,
  CR_DEVICE_NOT_THERE = 0x24,  // the device is gone: ejected and not come back
  CR_ACCESS_DENIED = 0x33,
};

// Node status flag: the device can be removed (ejected) on its own.
constexpr std::uint32_t DN_REMOVABLE = 0x4000;

// The seven operations the walk needs.
enum class DevNodeOperation {
  kLocateRoot,
  kGetChild,
  kGetSibling,
  kGetStatus,
  kGetDeviceIdSize,
  kGetDeviceId,
  kRequestEject,
};

class IDeviceTree {
 public:
  virtual ~IDeviceTree() = default;

  // Whether the tree offers the operation; a walk refuses to start when one is missing.
  virtual bool Provides(DevNodeOperation operation) const = 0;
  virtual ConfigRet LocateRoot(DevNode& root) = 0;
  virtual ConfigRet GetChild(DevNode node, DevNode& child) = 0;
  virtual ConfigRet GetSibling(DevNode node, DevNode& sibling) = 0;
  virtual ConfigRet GetStatus(DevNode node, std::uint32_t& status, std::uint32_t& problem) = 0;
  // The length of the node's device id in characters, without a terminator.
  virtual ConfigRet GetDeviceIdSize(DevNode node, std::uint32_t& size) = 0;
  virtual ConfigRet GetDeviceId(DevNode node, std::string& id) = 0;
  // Asks the system to remove the device; a refusal is CR_REMOVE_VETOED with its veto type.
  virtual ConfigRet RequestEject(DevNode node, std::uint32_t& vetoType, std::string& vetoName) = 0;
  // The friendly name of the node with this device id; nothing when it has none.
  virtual std::optional<std::string> FriendlyName(const std::string& deviceId) = 0;
};

// A tree read once into memory: the node handles are indices into the node table, node 0 is
// the root. The sysfs tree, the emulated bus's tree and the tests' fake tree build on it.
class CSnapshotDeviceTree : public IDeviceTree {
 public:
  struct Node {
    std::string id;
    std::optional<std::string> friendlyName;
    std::uint32_t status = 0;
    std::uint32_t problem = 0;
    DevNode parent = 0;
    std::vector<DevNode> children;
  };

  CSnapshotDeviceTree();

  // Adds a node below `parent` (after its present children); returns its handle.
  DevNode AddNode(DevNode parent, std::string id, std::optional<std::string> friendlyName,
                  std::uint32_t status, std::uint32_t problem = 0);
  const Node& NodeAt(DevNode node) const { return m_nodes.at(node); }
  Node& NodeAt(DevNode node) { return m_nodes.at(node); }
  std::size_t NodeCount() const { return m_nodes.size(); }

  bool Provides(DevNodeOperation) const override { return true; }
  ConfigRet LocateRoot(DevNode& root) override;
  ConfigRet GetChild(DevNode node, DevNode& child) override;
  ConfigRet GetSibling(DevNode node, DevNode& sibling) override;
  ConfigRet GetStatus(DevNode node, std::uint32_t& status, std::uint32_t& problem) override;
  ConfigRet GetDeviceIdSize(DevNode node, std::uint32_t& size) override;
  ConfigRet GetDeviceId(DevNode node, std::string& id) override;
  std::optional<std::string> FriendlyName(const std::string& deviceId) override;

 protected:
  bool IsNode(DevNode node) const { return node < m_nodes.size(); }
  // The node with this device id, if any.
  std::optional<DevNode> FindById(const std::string& deviceId) const;

 private:
  std::vector<Node> m_nodes;
};
