#pragma once
// Ejecting a USB device by its name: walk the tree of device nodes, read each node's friendly
// name, match it against a pattern, and ask for the eject of the nearest removable node at or
// above every match. The USB transport uses it to make a device start again after a download.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/device_tree.h"

class CDevNodeHelper {
 public:
  // Results of EjectByName and the walk.
  enum Result : int {
    kDone = 0,
    kFunctionMissing = 3,
    kNoMatch = 4,
    kNotRemovable = 5,
    kProblemCode = 6,
    kLeftSwitchedOff = 7,  // the eject switched the device off and it did not come back
    kStatusFailed = 8,
    kIdSizeFailed = 9,
    kIdFailed = 10,
    kChildFailed = 11,
    kSiblingFailed = 12,
    kNoRoot = 13,
    kEjectFailed = 14,
    kEjectVetoed = 15,
  };
  // Load results.
  static constexpr int kLoaded = 0;
  static constexpr int kNotLoaded = 2;
  // The buffers the walk uses for a friendly name and a veto name, in characters.
  static constexpr std::size_t kNameBufferLength = 512;
  static constexpr std::size_t kVetoNameLength = 260;

  // Works on `tree`; without one (nullptr) there is nothing to walk: load result 2.
  explicit CDevNodeHelper(std::unique_ptr<IDeviceTree> tree);

  int LoadResult() const { return m_loadResult; }
  std::uint32_t SystemError() const { return m_systemError; }

  // Asks for the eject of every device whose friendly name (or, without friendly-name
  // matching, device id) matches `pattern`. `systemError` receives the tree's return value or
  // the veto type where a result says so; `matchCount` the number of matching nodes.
  int EjectByName(const std::string& pattern, bool matchFriendlyNames, std::uint32_t& systemError,
                  unsigned& matchCount);

  // The node's friendly name, cut to `bufferLength` - 1 characters; false (and an empty name)
  // for an empty id or buffer, or a node without a name.
  bool GetDeviceName(const std::string& deviceId, std::string& name,
                     std::size_t bufferLength = kNameBufferLength);

  // Case-insensitive comparison; "*" in the pattern matches the whole rest of the text.
  static bool MatchPattern(const char* text, const char* pattern);

 private:
  struct Ancestor {
    const Ancestor* parent;
    DevNode node;
    std::uint32_t status;
    std::uint32_t problem;
  };

  int Walk(DevNode node, const Ancestor* parent, const std::string& pattern, bool matchFriendlyNames,
           std::uint32_t& systemError, unsigned& matchCount);
  int EjectMatch(const Ancestor& record, std::uint32_t& systemError);

  std::unique_ptr<IDeviceTree> m_tree;
  int m_loadResult;
  std::uint32_t m_systemError = 0;
};

// EjectDevice results.
constexpr int kEjectHelperMissing = 11;
constexpr int kEjectTreeMissing = 12;
constexpr int kEjectWalkFailed = 13;

// Asks for the eject of the removable device whose friendly name matches `pattern`, on the
// device tree of the USB bus in use: 0 done, 11 no helper, 12 no device tree, 13 the walk
// failed.
int EjectDevice(const std::string& pattern);
// The same on a given tree (nullptr: there is none).
int EjectDevice(const std::string& pattern, std::unique_ptr<IDeviceTree> tree);
