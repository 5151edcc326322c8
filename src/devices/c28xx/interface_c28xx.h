#pragma once
// The C28xx device: a DSP unit whose bootloader is named by its catalog entry. The device
// answers 00 02 with its identity in UTF-16 characters, each a big-endian word, ended by a
// zero word; the identity begins with the entry's Id (compared over nine characters) and
// carries the firmware version from character 10 on. The firmware is a word-addressed HEX
// image, sent by the C28xx program download (devices/downloads/c28xx_program.h) with
// two-byte commands.

#include <cstdint>
#include <memory>
#include <string>

#include "transport/catalog_named_usb.h"
#include "transport/stream_device.h"
#include "updater/device_catalog.h"
#include "updater/updater.h"

// The C28xx device's transport: the second-generation driver, named "Tavrix <Id> <Name>" after
// the catalog entry, with the entry's USB product id. The MK interface reaches its device the
// same way.
using CUpdaterUsb2 = CCatalogNamedUsb;

class CInterfaceC28XX : public CStreamDevice {
 public:
  // The firmware version is the number in the identity from this character on.
  static constexpr std::size_t kVersionIndex = 10;

  explicit CInterfaceC28XX(DeviceRecord entry) : m_entry(std::move(entry)) {}

  // Sends 00 02 and reads the identity; true when it begins with the entry's Id. A different
  // non-empty identity is named in message 20007; an empty one fails without a message.
  bool Identify() override;

  // The identity as the device sent it, one UTF-16 code unit per character.
  const std::u16string& WideIdentity() const { return m_wideIdentity; }
  // The version from character kVersionIndex of the identity; 0 when there is none.
  std::uint16_t FirmwareVersion() const;

 protected:
  std::unique_ptr<CStreamIO> CreateTransport() override;
  // A person without the device can still walk through the wizard.
  bool OffersSimulation() const override { return true; }

 private:
  void ReadWideIdentity();

  DeviceRecord m_entry;
  std::u16string m_wideIdentity;
};

class CUpdaterC28XX : public CUpdater {
 public:
  explicit CUpdaterC28XX(const DeviceRecord& entry) : m_interface(entry) {}

  bool Connect() override;
  bool ConnectAgain() override { return m_interface.ConnectAgain(); }
  std::uint16_t GetFirmwareVersion() override { return m_interface.FirmwareVersion(); }
  // The C28xx program download of the record's firmware, two-byte commands; the progress
  // interface is not used (the download shows the animation window).
  bool Update(const DeviceRecord& record, IFlashProgress* progress) override;

  const CInterfaceC28XX& Interface() const { return m_interface; }

 private:
  CInterfaceC28XX m_interface;
};
