#pragma once
// The simulated 2A interface (model ZR6618-7D): the shared USB bootloader
// (devices/downloads/sim_bootloader.h) with all three downloads, block headers high byte first,
// and the 2A's own question, the hardware variant (0x0B).
//
// Options (besides the bootloader's and the generic ones): variant=1|2|3|? (default 1).

#include <cstdint>
#include <string>

#include "sim/devices/downloads/sim_bootloader.h"

class CSim2A : public CSimBootloader {
 public:
  static constexpr std::uint16_t kProductId = 0x7D2A;
  static constexpr const char* kFriendlyName = "Tavrix Quadrel Interface";
  static constexpr const char* kIdentityPrefix = "ZR6618-7D Quadrel ";  // 18 characters
  static constexpr std::uint8_t kUnknownVariant = 0x3F;                 // "?"

  explicit CSim2A(CSimOptions& options);

  // "variant 3, firmware 1.07"
  std::string Describe() const override;
  std::uint8_t Variant() const { return m_variant; }

 protected:
  std::string OwnIdentity(std::uint16_t firmware) const override;
  bool ServeOwnCommand(CSimConnection& io, std::uint8_t command) override;

 private:
  const std::uint8_t m_variant;
};
