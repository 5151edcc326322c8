#pragma once
// Where a simulated device interface sits on the emulated bus: its vendor and product id,
// serial and driver generation, which together make the device path (the socket's file name).

#include <cstdint>
#include <string>

// The driver generation selects the device interface class.
enum class ESimGeneration { First = 1, Second = 2 };

// Interface class of a generation, lower case with dashes, without braces.
const char* SimInterfaceGuid(ESimGeneration generation);

// The simulators' own vendor id, used unless a device names another. The host selects devices
// by product id only.
constexpr std::uint16_t kSimVendorId = 0x7A3C;

struct CSimUsbAddress {
  std::uint16_t VendorId = kSimVendorId;
  std::uint16_t ProductId = 0;
  std::string Serial;
  ESimGeneration Generation = ESimGeneration::Second;

  // usb#vid_VVVV&pid_PPPP#SERIAL#{GUID}
  std::string DevicePath() const;
};

// Serials are letters, digits, '-' and '_', at least one of them.
bool IsValidSimSerial(const std::string& serial);
