#pragma once
// The simulated MK interface: the shared USB bootloader (devices/downloads/sim_bootloader.h)
// with the block download only, its block header low byte first. An MK device is whatever its
// catalog entry says: the host expects the identity to begin with the entry's Id (nine
// characters) and finds it by the entry's USB product id on the second-generation driver. The
// identity is the model text, cut or filled with blanks to nine characters, " MK boot " and
// the firmware version from character 18 on.
//
// Options (besides the bootloader's and the generic ones): model=TEXT (default ZM7310-4K, the
// demo catalog's Id).

#include <cstdint>
#include <string>

#include "sim/devices/downloads/sim_bootloader.h"

class CSimMK : public CSimBootloader {
 public:
  static constexpr std::uint16_t kProductId = 0x4D4B;  // the demo catalog's USBPID
  static constexpr const char* kDefaultModel = "ZM7310-4K";
  static constexpr const char* kFriendlyName = "Tavrix ZM7310-4K Interface MK";

  explicit CSimMK(CSimOptions& options);

  // "model ZM7310-4K, firmware 1.07"
  std::string Describe() const override;

 protected:
  std::string OwnIdentity(std::uint16_t firmware) const override;

 private:
  const std::string m_model;
};
