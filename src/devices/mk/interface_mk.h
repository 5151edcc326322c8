#pragma once
// The MK interface over USB, and its updater. Which device it expects comes from the catalog
// entry it is made for: the identity must agree with the entry's Id in its first nine
// characters, and the second-generation transport is named "Tavrix <Id> <Name>" with the
// entry's USB product id. Its firmware takes the block download in the MK byte order
// (block address and length low byte first, 1000 ms after the start).

#include <cstdint>
#include <memory>
#include <string>

#include "transport/stream_device.h"
#include "updater/device_catalog.h"
#include "updater/updater.h"

class CInterfaceMK : public CStreamDevice {
 public:
  // The firmware version is the number in the identity from this character on.
  static constexpr std::size_t kVersionIndex = 18;

  explicit CInterfaceMK(const DeviceRecord& entry) : m_entry(entry) {}

  // True when the identity agrees with the catalog Id over at most nine characters, as a
  // bounded text comparison: an Id shorter than that accepts only an identity equal to it.
  // A non-empty identity that does not is named in message 20007 with the whole Id.
  bool Identify() override;

  // The block download of an Intel HEX file in the MK byte order.
  bool ProgramHexBlocks(const std::string& path);

 protected:
  std::unique_ptr<CStreamIO> CreateTransport() override;

 private:
  DeviceRecord m_entry;  // the catalog entry the device is expected from
};

class CUpdaterMK : public CUpdater {
 public:
  explicit CUpdaterMK(const DeviceRecord& entry) : m_interface(entry) {}

  bool Connect() override;
  bool ConnectAgain() override { return m_interface.ConnectAgain(); }
  std::uint16_t GetFirmwareVersion() override;
  // The block download of the record's firmware; the progress interface is not used.
  bool Update(const DeviceRecord& record, IFlashProgress* progress) override;

  const CInterfaceMK& Interface() const { return m_interface; }

 private:
  CInterfaceMK m_interface;
};
