#pragma once
// The 2A interface's USB transport: the first-generation driver, named by its product string
// and product id.

#include <cstdint>
#include <string>

#include "transport/stream_usb.h"

class CQuadrelUsb : public CStreamUSB {
 public:
  static constexpr std::uint16_t kProductId = 0x7D2A;
  std::string GetProductName() override { return "Tavrix Quadrel Interface"; }
  std::uint16_t GetProductId() override { return kProductId; }
};
