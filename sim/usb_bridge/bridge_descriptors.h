#pragma once
// What a device of the emulated bus looks like as a USB device: its identity, taken from the
// device path and the name file beside the socket, and the descriptors made from it. Every
// device has one configuration with one vendor-specific interface and two bulk endpoints of
// 64 bytes, 0x82 in and 0x03 out, as the driver's PIPE02 and PIPE03.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CBridgeIdentity {
  std::uint16_t VendorId = 0;
  std::uint16_t ProductId = 0;
  std::string Serial;
  std::optional<std::string> Product;  // the friendly name; nothing without a name file
};

inline constexpr unsigned kBridgePacketSize = 64;
inline constexpr std::uint8_t kBridgeInEndpoint = 0x82;
inline constexpr std::uint8_t kBridgeOutEndpoint = 0x03;

// Parses a socket's file name of the shape usb#vid_VVVV&pid_PPPP#SERIAL#{GUID}; nothing when
// the name has another shape (such files are not devices).
std::optional<CBridgeIdentity> ParseBridgeDevicePath(const std::string& name);

// The device descriptor followed by the configuration descriptor with its interface and
// endpoints: the layout of the sysfs attribute `descriptors`.
std::vector<std::uint8_t> BridgeDescriptors(const CBridgeIdentity& identity);

// The answer to a control request on endpoint 0 (`setup` is the 8-byte setup packet), at most
// wLength bytes; nothing when the device stalls the request.
std::optional<std::vector<std::uint8_t>> AnswerBridgeControl(const CBridgeIdentity& identity,
                                                             const std::uint8_t* setup);
