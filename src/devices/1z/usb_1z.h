#pragma once
// The 1Z interface over USB (first-generation driver).

#include <cstdint>
#include <string>

#include "transport/stream_usb.h"

class CUsb1Z : public CStreamUSB {
 public:
  static constexpr std::uint16_t kProductId = 0x9046;
  std::string GetProductName() override { return "Tavrix ZR9046-3C Interface"; }
  std::uint16_t GetProductId() override { return kProductId; }
};
