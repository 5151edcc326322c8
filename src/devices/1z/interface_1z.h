#pragma once
// The 1Z interface (model code ZR9046-3C) over USB, and its updater. It speaks the 2A's
// bootloader language without hardware variants, and has one command of its own, 0x10 with an
// argument, answered "!": 10 01 after the identification, 10 00 when the updater finishes.
// The firmware takes the segment download along region table A, which ends with a reset.

#include <cstdint>
#include <memory>

#include "transport/stream_device.h"
#include "updater/updater.h"

class CInterface1Z : public CStreamDevice {
 public:
  static constexpr const char* kModelCode = "ZR9046-3C";
  // The firmware version is the number in the identity from this character on.
  static constexpr std::size_t kVersionIndex = 10;

  // True when the identity carries the model code (otherwise message 20007 for a non-empty
  // one) and the device accepted 10 01. A device that does not answer 10 01 with "!" raises
  // CStreamException 20016, which the connect loop takes as a failed identification.
  bool Identify() override;
  // Sends 10 00 while the transport is open, then closes it. Raises 20016 when the device
  // does not answer "!"; sends nothing on a transport that is closed or missing.
  void Leave();

 protected:
  std::unique_ptr<CStreamIO> CreateTransport() override;

 private:
  // 0x10 with `argument` as one packet, and its answer; nothing on a closed transport.
  void SendCommand10(std::uint8_t argument);
};

class CUpdater1Z : public CUpdater {
 public:
  bool Connect() override;
  bool ConnectAgain() override { return m_interface.ConnectAgain(); }
  std::uint16_t GetFirmwareVersion() override;
  // The segment download along region table A; the progress interface is not used.
  bool Update(const DeviceRecord& record, IFlashProgress* progress) override;
  // 10 00 and close, while the transport is still open (the download's reset closes it).
  // Whatever goes wrong on the way makes it false.
  bool Finish() override;

  const CInterface1Z& Interface() const { return m_interface; }

 private:
  CInterface1Z m_interface;
};
