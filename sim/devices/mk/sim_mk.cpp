#include "sim/devices/mk/sim_mk.h"

#include "platform/text_format.h"
#include "sim/sim_device_registry.h"
#include "sim/sim_options.h"

namespace {

RegisterSimDevice<CSimMK> g_registration(
    "mk", "MK interface bootloader: model=TEXT (the catalog Id), firmware=N, record=FILE; pid= the catalog's USBPID");

constexpr CSimBootloaderProfile kProfile{.ProductId = CSimMK::kProductId,
                                         .Generation = ESimGeneration::Second,
                                         .FriendlyName = CSimMK::kFriendlyName,
                                         .Blocks = true,
                                         .BlockLowByteFirst = true};

}  // namespace

CSimMK::CSimMK(CSimOptions& options)
    : CSimBootloader(options, kProfile), m_model(options.TakeText("model").value_or(kDefaultModel)) {}

std::string CSimMK::Describe() const { return "model " + m_model + ", " + CSimBootloader::Describe(); }

std::string CSimMK::OwnIdentity(std::uint16_t firmware) const {
  return FormatText("%-9.9s MK boot %u", m_model.c_str(), static_cast<unsigned>(firmware));
}
