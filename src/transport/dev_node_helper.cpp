#include "transport/dev_node_helper.h"

#include <new>

#include "platform/ascii_text.h"
#include "platform/usb_bus.h"

namespace {

constexpr DevNodeOperation kOperations[] = {
    DevNodeOperation::kLocateRoot,   DevNodeOperation::kGetChild,
    DevNodeOperation::kGetSibling,   DevNodeOperation::kGetStatus,
    DevNodeOperation::kGetDeviceIdSize, DevNodeOperation::kGetDeviceId,
    DevNodeOperation::kRequestEject,
};

}  // namespace

CDevNodeHelper::CDevNodeHelper(std::unique_ptr<IDeviceTree> tree)
    : m_tree(std::move(tree)), m_loadResult(m_tree ? kLoaded : kNotLoaded) {}

bool CDevNodeHelper::MatchPattern(const char* text, const char* pattern) {
  if (text == nullptr || pattern == nullptr) return false;
  for (;; ++text, ++pattern) {
    if (*pattern == '*') return true;
    if (ToLowerAscii(*text) != ToLowerAscii(*pattern)) return false;
    if (*pattern == '\0') return true;  // both ended at the same place
  }
}

bool CDevNodeHelper::GetDeviceName(const std::string& deviceId, std::string& name,
                                   std::size_t bufferLength) {
  name.clear();
  if (deviceId.empty() || bufferLength == 0 || !m_tree) return false;
  std::optional<std::string> friendly = m_tree->FriendlyName(deviceId);
  if (!friendly) return false;
  name = CutToBuffer(*friendly, bufferLength);
  return true;
}

int CDevNodeHelper::EjectByName(const std::string& pattern, bool matchFriendlyNames,
                                std::uint32_t& systemError, unsigned& matchCount) {
  systemError = 0;
  matchCount = 0;
  if (!m_tree) return kFunctionMissing;
  for (auto operation : kOperations) {
    if (!m_tree->Provides(operation)) return kFunctionMissing;
  }
  DevNode root = 0;
  ConfigRet located = m_tree->LocateRoot(root);
  if (located != CR_SUCCESS) {
    systemError = located;
    return kNoRoot;
  }
  int result = Walk(root, nullptr, pattern, matchFriendlyNames, systemError, matchCount);
  if (result == kDone && !pattern.empty() && matchCount == 0) result = kNoMatch;
  return result;
}

int CDevNodeHelper::Walk(DevNode node, const Ancestor* parent, const std::string& pattern,
                         bool matchFriendlyNames, std::uint32_t& systemError, unsigned& matchCount) {
  for (;;) {
    Ancestor record{parent, node, 0, 0};
    ConfigRet ret = m_tree->GetStatus(node, record.status, record.problem);
    if (ret != CR_SUCCESS && ret != CR_NO_SUCH_DEVNODE) {
      systemError = ret;
      return kStatusFailed;
    }

    std::uint32_t idSize = 0;
    ret = m_tree->GetDeviceIdSize(node, idSize);
    if (ret != CR_SUCCESS) {
      systemError = ret;
      return kIdSizeFailed;
    }
    std::string deviceId;
    ret = m_tree->GetDeviceId(node, deviceId);
    if (ret != CR_SUCCESS) {
      systemError = ret;
      return kIdFailed;
    }

    std::string name;
    GetDeviceName(deviceId, name);
    if (!pattern.empty() && !(matchFriendlyNames && name.empty())) {
      const std::string& text = matchFriendlyNames ? name : deviceId;
      if (MatchPattern(text.c_str(), pattern.c_str())) {
        ++matchCount;
        int result = EjectMatch(record, systemError);
        if (result != kDone) return result;
      }
    }

    DevNode child = 0;
    ret = m_tree->GetChild(node, child);
    if (ret == CR_SUCCESS) {
      int result = Walk(child, &record, pattern, matchFriendlyNames, systemError, matchCount);
      if (result != kDone) return result;
    } else if (ret != CR_NO_SUCH_DEVNODE) {
      systemError = ret;
      return kChildFailed;
    }

    DevNode sibling = 0;
    ret = m_tree->GetSibling(node, sibling);
    if (ret == CR_NO_SUCH_DEVNODE) return kDone;
    if (ret != CR_SUCCESS) {
      systemError = ret;
      return kSiblingFailed;
    }
    node = sibling;
  }
}

int CDevNodeHelper::EjectMatch(const Ancestor& record, std::uint32_t& systemError) {
  const Ancestor* target = &record;
  while (target != nullptr && (target->status & DN_REMOVABLE) == 0) target = target->parent;
  if (target == nullptr) return kNotRemovable;
  if (target->problem != 0) {
    systemError = target->problem;
    return kProblemCode;
  }
  std::uint32_t vetoType = 0;
  std::string vetoName;
  vetoName.reserve(kVetoNameLength);
  ConfigRet ret = m_tree->RequestEject(target->node, vetoType, vetoName);
  if (ret == CR_SUCCESS) return kDone;
  if (ret == CR_REMOVE_VETOED) {
    systemError = vetoType;
    return kEjectVetoed;
  }
  systemError = ret;
  // Unlike a refused request, this leaves the device unusable until it is plugged in again.
  return ret == CR_DEVICE_NOT_THERE ? kLeftSwitchedOff : kEjectFailed;
}

int EjectDevice(const std::string& pattern, std::unique_ptr<IDeviceTree> tree) {
  std::unique_ptr<CDevNodeHelper> helper;
  try {
    helper = std::make_unique<CDevNodeHelper>(std::move(tree));
  } catch (const std::bad_alloc&) {
    return kEjectHelperMissing;
  }
  if (helper->LoadResult() != CDevNodeHelper::kLoaded) return kEjectTreeMissing;
  std::uint32_t systemError = 0;
  unsigned matchCount = 0;
  return helper->EjectByName(pattern, true, systemError, matchCount) != 0 ? kEjectWalkFailed : 0;
}

int EjectDevice(const std::string& pattern) { return EjectDevice(pattern, UsbBus().OpenDeviceTree()); }
