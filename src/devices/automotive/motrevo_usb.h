#pragma once
// The automotive trainer over USB: the second-generation driver (one handle for both
// directions), named by the trainer's fixed product string and product id.

#include <cstdint>
#include <string>

#include "transport/stream_usb.h"

class CMyUsb : public CStreamUSB2 {
 public:
  static constexpr std::uint16_t kProductId = 0x4C17;
  std::string GetProductName() override { return "Tavrix MOTREVO"; }
  std::uint16_t GetProductId() override { return kProductId; }
};
