#pragma once
// The USB transports of the device families: each only names its USB product string and
// product id (and the servo trainer's also tries its second product id).

#include <cstdint>
#include <string>

#include "transport/stream_usb.h"

// The 1A interface.
class CUsb1A : public CStreamUSB {
 public:
  std::string GetProductName() override { return "Tavrix ZQ1184-2B Interface"; }
  std::uint16_t GetProductId() override { return 0x1184; }
};

// The 1Z interface.
class CUsb1Z : public CStreamUSB {
 public:
  std::string GetProductName() override { return "Tavrix ZR9046-3C Interface"; }
  std::uint16_t GetProductId() override { return 0x9046; }
};

// The 2A interface.
class CQuadrelUsb : public CStreamUSB {
 public:
  std::string GetProductName() override { return "Tavrix Quadrel Interface"; }
  std::uint16_t GetProductId() override { return 0x7D2A; }
};

// The servo trainer's control unit, which exists with two product ids.
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

// The automotive trainer.
class CMyUsb : public CStreamUSB2 {
 public:
  std::string GetProductName() override { return "Tavrix MOTREVO"; }
  std::uint16_t GetProductId() override { return 0x4C17; }
};

// The ATMU device: named and identified by the catalog entry selected at the moment of the
// call ("Tavrix <Id> <Name>", the entry's USB product id).
class CMyUsb2 : public CStreamUSB2 {
 public:
  std::string GetProductName() override;
  std::uint16_t GetProductId() override;
};

// The MK interface and the C28xx device, named like CMyUsb2.
class CUpdaterUsb2 : public CStreamUSB2 {
 public:
  std::string GetProductName() override;
  std::uint16_t GetProductId() override;
};
