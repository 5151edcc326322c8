#pragma once
// The simulated 1A interface (model ZQ1184-2B): the shared USB bootloader
// (devices/downloads/sim_bootloader.h) with the segment download only. Its identity carries
// the firmware version from character 10 on.
//
// Options: the bootloader's (firmware=N, refuse_header, record=FILE) and the generic ones.

#include <cstdint>
#include <string>

#include "sim/devices/downloads/sim_bootloader.h"

class CSim1A : public CSimBootloader {
 public:
  static constexpr std::uint16_t kProductId = 0x1184;
  static constexpr const char* kFriendlyName = "Tavrix ZQ1184-2B Interface";
  static constexpr const char* kIdentityPrefix = "ZQ1184-2B ";  // 10 characters

  explicit CSim1A(CSimOptions& options);

 protected:
  std::string OwnIdentity(std::uint16_t firmware) const override;
};
