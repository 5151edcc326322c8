#pragma once
// A device tree built by a test: nodes with names, flags and problem codes, failures injected
// per operation and node, and a record of every eject request.

#include <map>
#include <set>
#include <utility>
#include <vector>

#include "platform/device_tree.h"

class CFakeDeviceTree : public CSnapshotDeviceTree {
 public:
  // Makes `operation` on `node` return `result`.
  void Fail(DevNodeOperation operation, DevNode node, ConfigRet result) {
    m_failures[{operation, node}] = result;
  }
  // Makes the tree lack an operation altogether.
  void Remove(DevNodeOperation operation) { m_missing.insert(operation); }
  // Makes the eject request of `node` vetoed with `vetoType`.
  void Veto(DevNode node, std::uint32_t vetoType) { m_vetoes[node] = vetoType; }

  const std::vector<DevNode>& EjectRequests() const { return m_ejects; }

  bool Provides(DevNodeOperation operation) const override { return !m_missing.count(operation); }
  ConfigRet LocateRoot(DevNode& root) override {
    if (auto failure = Injected(DevNodeOperation::kLocateRoot, 0)) return *failure;
    return CSnapshotDeviceTree::LocateRoot(root);
  }
  ConfigRet GetChild(DevNode node, DevNode& child) override {
    if (auto failure = Injected(DevNodeOperation::kGetChild, node)) return *failure;
    return CSnapshotDeviceTree::GetChild(node, child);
  }
  ConfigRet GetSibling(DevNode node, DevNode& sibling) override {
    if (auto failure = Injected(DevNodeOperation::kGetSibling, node)) return *failure;
    return CSnapshotDeviceTree::GetSibling(node, sibling);
  }
  ConfigRet GetStatus(DevNode node, std::uint32_t& status, std::uint32_t& problem) override {
    if (auto failure = Injected(DevNodeOperation::kGetStatus, node)) return *failure;
    return CSnapshotDeviceTree::GetStatus(node, status, problem);
  }
  ConfigRet GetDeviceIdSize(DevNode node, std::uint32_t& size) override {
    if (auto failure = Injected(DevNodeOperation::kGetDeviceIdSize, node)) return *failure;
    return CSnapshotDeviceTree::GetDeviceIdSize(node, size);
  }
  ConfigRet GetDeviceId(DevNode node, std::string& id) override {
    if (auto failure = Injected(DevNodeOperation::kGetDeviceId, node)) return *failure;
    return CSnapshotDeviceTree::GetDeviceId(node, id);
  }
  ConfigRet RequestEject(DevNode node, std::uint32_t& vetoType, std::string& vetoName) override {
    m_ejects.push_back(node);
    vetoType = 0;
    vetoName.clear();
    if (auto veto = m_vetoes.find(node); veto != m_vetoes.end()) {
      vetoType = veto->second;
      return CR_REMOVE_VETOED;
    }
    if (auto failure = Injected(DevNodeOperation::kRequestEject, node)) return *failure;
    return CR_SUCCESS;
  }

 private:
  std::optional<ConfigRet> Injected(DevNodeOperation operation, DevNode node) const {
    auto it = m_failures.find({operation, node});
    if (it == m_failures.end()) return std::nullopt;
    return it->second;
  }

  std::map<std::pair<DevNodeOperation, DevNode>, ConfigRet> m_failures;
  std::set<DevNodeOperation> m_missing;
  std::map<DevNode, std::uint32_t> m_vetoes;
  std::vector<DevNode> m_ejects;
};
