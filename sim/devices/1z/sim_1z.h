#pragma once
// The simulated 1Z interface (model ZR9046-3C): the shared USB bootloader
// (devices/downloads/sim_bootloader.h) with the segment download only, and the 1Z's own
// command 0x10 with an argument: 10 01 (the host has identified the device) and 10 00 (the
// host is done), each answered with an acknowledgement through the fault plan, so refuse_ack=1
// refuses the 10 01 of the first connect. Its identity carries the firmware version from
// character 10 on.
//
// Options: the bootloader's (firmware=N, refuse_header, record=FILE) and the generic ones.

#include <cstdint>
#include <string>
#include <vector>

#include "sim/devices/downloads/sim_bootloader.h"

class CSim1Z : public CSimBootloader {
 public:
  static constexpr std::uint16_t kProductId = 0x9046;
  static constexpr const char* kFriendlyName = "Tavrix ZR9046-3C Interface";
  static constexpr const char* kIdentityPrefix = "ZR9046-3C ";  // 10 characters

  explicit CSim1Z(CSimOptions& options);

  // The arguments of the 0x10 commands received so far, in order.
  std::vector<std::uint8_t> Commands10() const;

 protected:
  std::string OwnIdentity(std::uint16_t firmware) const override;
  bool ServeOwnCommand(CSimConnection& io, std::uint8_t command) override;

 private:
  std::vector<std::uint8_t> m_commands10;  // guarded by StateMutex()
};
