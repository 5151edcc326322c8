#include "sim/devices/1z/sim_1z.h"

#include "platform/text_format.h"
#include "sim/sim_device_registry.h"

namespace {

RegisterSimDevice<CSim1Z> g_registration(
    "1z", "1Z interface bootloader (ZR9046-3C): firmware=N, refuse_header, record=FILE");

constexpr std::uint8_t kCommand10 = 0x10;

constexpr CSimBootloaderProfile kProfile{.ProductId = CSim1Z::kProductId,
                                         .Generation = ESimGeneration::First,
                                         .FriendlyName = CSim1Z::kFriendlyName,
                                         .Segments = true};

}  // namespace

CSim1Z::CSim1Z(CSimOptions& options) : CSimBootloader(options, kProfile) {}

std::vector<std::uint8_t> CSim1Z::Commands10() const {
  std::lock_guard lock(StateMutex());
  return m_commands10;
}

std::string CSim1Z::OwnIdentity(std::uint16_t firmware) const { return kIdentityPrefix + std::to_string(firmware); }

bool CSim1Z::ServeOwnCommand(CSimConnection& io, std::uint8_t command) {
  if (command != kCommand10) return false;
  // The host sends the command and its argument as one packet.
  const bool onePacket = io.BytesLeftInFrame() == 1;
  const std::uint8_t argument = io.ReadByte();
  if (!onePacket) io.ReportViolation(FormatText("10 %02X not sent as one packet", argument));
  if (argument > 1) {
    io.ReportViolation(FormatText("unknown argument 10 %02X refused", argument));
    io.Refuse();
    return true;
  }
  {
    std::lock_guard lock(StateMutex());
    m_commands10.push_back(argument);
  }
  io.Acknowledge();
  return true;
}
