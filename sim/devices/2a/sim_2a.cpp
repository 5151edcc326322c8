#include "sim/devices/2a/sim_2a.h"

#include "sim/sim_device_registry.h"
#include "sim/sim_error.h"
#include "sim/sim_options.h"

namespace {

RegisterSimDevice<CSim2A> g_registration(
    "2a",
    "2A interface bootloader (ZR6618-7D): variant=1|2|3|?, firmware=N, refuse_header, "
    "record=FILE");

constexpr std::uint8_t kVariantCommand = 0x0B;

constexpr CSimBootloaderProfile kProfile{.ProductId = CSim2A::kProductId,
                                         .Generation = ESimGeneration::First,
                                         .FriendlyName = CSim2A::kFriendlyName,
                                         .Segments = true,
                                         .Blocks = true,
                                         .Binary = true,
                                         .BlockLowByteFirst = false};

std::uint8_t TakeVariant(CSimOptions& options) {
  std::optional<std::string> text = options.TakeText("variant");
  if (!text) return 1;
  if (*text == "?") return CSim2A::kUnknownVariant;
  if (*text == "1" || *text == "2" || *text == "3") return static_cast<std::uint8_t>((*text)[0] - '0');
  throw CSimError("option variant=" + *text + ": expected 1, 2, 3 or ?");
}

}  // namespace

CSim2A::CSim2A(CSimOptions& options) : CSimBootloader(options, kProfile), m_variant(TakeVariant(options)) {}

std::string CSim2A::Describe() const {
  std::string variant = m_variant == kUnknownVariant ? "?" : std::to_string(m_variant);
  return "variant " + variant + ", " + CSimBootloader::Describe();
}

std::string CSim2A::OwnIdentity(std::uint16_t firmware) const {
  return kIdentityPrefix + std::to_string(firmware);
}

bool CSim2A::ServeOwnCommand(CSimConnection& io, std::uint8_t command) {
  if (command != kVariantCommand) return false;
  io.WriteBytes({m_variant});
  return true;
}
