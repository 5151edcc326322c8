#include "sim/devices/1a/sim_1a.h"

#include "sim/sim_device_registry.h"

namespace {

RegisterSimDevice<CSim1A> g_registration(
    "1a", "1A interface bootloader (ZQ1184-2B): firmware=N, refuse_header, record=FILE");

constexpr CSimBootloaderProfile kProfile{.ProductId = CSim1A::kProductId,
                                         .Generation = ESimGeneration::First,
                                         .FriendlyName = CSim1A::kFriendlyName,
                                         .Segments = true};

}  // namespace

CSim1A::CSim1A(CSimOptions& options) : CSimBootloader(options, kProfile) {}

std::string CSim1A::OwnIdentity(std::uint16_t firmware) const { return kIdentityPrefix + std::to_string(firmware); }
