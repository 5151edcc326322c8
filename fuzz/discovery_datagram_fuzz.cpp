// A discovery answer as a unit (or anything on the network) may send it: any length, any
// bytes. The parser must stay inside the datagram, bound the name to its field, and the text
// shown for it must hold no control character.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "net/udp_discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::optional<CSocketDeviceInfo> info = CUdpDiscovery::ParseAnnouncement(data, size);
  if (!info) return 0;
  if (info->Name.size() > CUdpDiscovery::kMaxNameUnits) std::abort();
  for (char c : info->DisplayName()) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
  }
  if (info->HardwareAddressText().size() != 17) std::abort();
  return 0;
}
