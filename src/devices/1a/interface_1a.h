#pragma once
// The 1A interface (model code ZQ1184-2B) over USB, and its updater. It speaks the 2A's
// bootloader language without hardware variants: the identity, then the segment download
// along region table A, which ends with a reset of the device.

#include <cstdint>
#include <memory>

#include "transport/stream_device.h"
#include "updater/updater.h"

class CInterface1A : public CStreamDevice {
 public:
  static constexpr const char* kModelCode = "ZQ1184-2B";
  // The firmware version is the number in the identity from this character on.
  static constexpr std::size_t kVersionIndex = 10;

  // True when the identity carries the model code (otherwise message 20007 for a non-empty one).
  bool Identify() override;

 protected:
  std::unique_ptr<CStreamIO> CreateTransport() override;
};

class CUpdater1A : public CUpdater {
 public:
  bool Connect() override;
  bool ConnectAgain() override { return m_interface.ConnectAgain(); }
  std::uint16_t GetFirmwareVersion() override;
  // The segment download along region table A; the progress interface is not used (the
  // download shows the animation window).
  bool Update(const DeviceRecord& record, IFlashProgress* progress) override;

  const CInterface1A& Interface() const { return m_interface; }

 private:
  CInterface1A m_interface;
};
