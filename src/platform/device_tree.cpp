#include "platform/device_tree.h"

#include <algorithm>

CSnapshotDeviceTree::CSnapshotDeviceTree() {
  // The root: the computer itself, never removable.
  m_nodes.push_back(Node{"HTREE\\ROOT\\0", std::nullopt, 0, 0, 0, {}});
}

DevNode CSnapshotDeviceTree::AddNode(DevNode parent, std::string id,
                                     std::optional<std::string> friendlyName,
                                     std::uint32_t status, std::uint32_t problem) {
  auto handle = static_cast<DevNode>(m_nodes.size());
  m_nodes.push_back(Node{std::move(id), std::move(friendlyName), status, problem, parent, {}});
  m_nodes.at(parent).children.push_back(handle);
  return handle;
}

ConfigRet CSnapshotDeviceTree::LocateRoot(DevNode& root) {
  root = 0;
  return CR_SUCCESS;
}

ConfigRet CSnapshotDeviceTree::GetChild(DevNode node, DevNode& child) {
  if (!IsNode(node)) return CR_INVALID_DEVNODE;
  const auto& children = m_nodes[node].children;
  if (children.empty()) return CR_NO_SUCH_DEVNODE;
  child = children.front();
  return CR_SUCCESS;
}

ConfigRet CSnapshotDeviceTree::GetSibling(DevNode node, DevNode& sibling) {
  if (!IsNode(node)) return CR_INVALID_DEVNODE;
  if (node == 0) return CR_NO_SUCH_DEVNODE;
  const auto& siblings = m_nodes[m_nodes[node].parent].children;
  auto it = std::find(siblings.begin(), siblings.end(), node);
  if (it == siblings.end() || std::next(it) == siblings.end()) return CR_NO_SUCH_DEVNODE;
  sibling = *std::next(it);
  return CR_SUCCESS;
}

ConfigRet CSnapshotDeviceTree::GetStatus(DevNode node, std::uint32_t& status, std::uint32_t& problem) {
  if (!IsNode(node)) return CR_NO_SUCH_DEVNODE;
  status = m_nodes[node].status;
  problem = m_nodes[node].problem;
  return CR_SUCCESS;
}

ConfigRet CSnapshotDeviceTree::GetDeviceIdSize(DevNode node, std::uint32_t& size) {
  if (!IsNode(node)) return CR_INVALID_DEVNODE;
  size = static_cast<std::uint32_t>(m_nodes[node].id.size());
  return CR_SUCCESS;
}

ConfigRet CSnapshotDeviceTree::GetDeviceId(DevNode node, std::string& id) {
  if (!IsNode(node)) return CR_INVALID_DEVNODE;
  id = m_nodes[node].id;
  return CR_SUCCESS;
}

std::optional<std::string> CSnapshotDeviceTree::FriendlyName(const std::string& deviceId) {
  auto node = FindById(deviceId);
  if (!node) return std::nullopt;
  return m_nodes[*node].friendlyName;
}

std::optional<DevNode> CSnapshotDeviceTree::FindById(const std::string& deviceId) const {
  for (std::size_t i = 0; i < m_nodes.size(); ++i) {
    if (m_nodes[i].id == deviceId) return static_cast<DevNode>(i);
  }
  return std::nullopt;
}
