#pragma once
// The automotive trainer over USB (second-generation driver, which serves every product id no
// family registered as first-generation). Its updater comes with the family.

#include <cstdint>
#include <string>

#include "transport/stream_usb.h"

class CMyUsb : public CStreamUSB2 {
 public:
  std::string GetProductName() override { return "Tavrix MOTREVO"; }
  std::uint16_t GetProductId() override { return 0x4C17; }
};
