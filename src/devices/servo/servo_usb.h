#pragma once
// The servo trainer's control unit over USB: the first-generation driver, with two product
// ids; Open tries the first, then once more with the second.

#include <cstdint>
#include <string>

#include "transport/stream_usb.h"

class CServoUSB : public CStreamUSB {
 public:
  static constexpr std::uint16_t kFirstProductId = 0x3351;
  static constexpr std::uint16_t kSecondProductId = 0x3352;

  // Tries the first product id, then once more with the second; the last attempt's result.
  bool Open() override;
  std::string GetProductName() override { return "Tavrix Kinetra"; }
  std::uint16_t GetProductId() override { return m_generation ? kSecondProductId : kFirstProductId; }
  // True while the second product id is in use.
  bool GenerationFlag() const { return m_generation; }

 private:
  bool m_generation = false;
};
