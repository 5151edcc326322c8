#pragma once
// The 1A interface over USB (first-generation driver).

#include <cstdint>
#include <string>

#include "transport/stream_usb.h"

class CUsb1A : public CStreamUSB {
 public:
  static constexpr std::uint16_t kProductId = 0x1184;
  std::string GetProductName() override { return "Tavrix ZQ1184-2B Interface"; }
  std::uint16_t GetProductId() override { return kProductId; }
};
