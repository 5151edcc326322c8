#pragma once
// The ATMU device: a USB device whose bootloader takes Intel HEX firmware page by page. The
// protocol object identifies it against its catalog entry; the updater loads the image, tells
// the bootloader with 1E that programming follows, waits 500 ms and runs the page-wise
// programming (devices/downloads/page_download.h).
//
//   02  -> the identity, single bytes up to a 0 byte: the entry's Id (compared over nine
//          characters) and, from character 10 on, the firmware version
//   1E     nothing read; the host waits 500 ms
//   the page-wise programming

#include <cstdint>
#include <memory>
#include <string>

#include "transport/stream_device.h"
#include "updater/device_catalog.h"
#include "updater/updater.h"

class CInterfaceATMU : public CStreamDevice {
 public:
  static constexpr std::uint8_t kIdentifyCommand = 0x02;
  // The firmware version is the number in the identity from this character on.
  static constexpr std::size_t kVersionIndex = 10;

  // The entry names the device: its Id is the identity expected, its Id, Name and USB product
  // id find the transport.
  explicit CInterfaceATMU(const DeviceRecord& entry) : m_entry(entry) {}

  // Sends 02 without emptying the input first and reads the identity. True when it equals the
  // entry's Id over at most nine characters. Another non-empty identity is named in message
  // 20007; an empty one fails silently.
  bool Identify() override;

 protected:
  std::unique_ptr<CStreamIO> CreateTransport() override;

 private:
  DeviceRecord m_entry;
};

// The identity's text as the bootloader's characters stand for it: each byte a signed 8-bit
// value widened to 16 bits, so 0x80..0xFF are the characters U+FF80..U+FFFF; in UTF-8.
std::string SignedDeviceTextToUtf8(const std::string& text);

class CUpdaterATMU : public CUpdater {
 public:
  static constexpr std::uint8_t kProgramCommand = 0x1E;
  static constexpr std::uint32_t kProgramPause = 500;

  explicit CUpdaterATMU(const DeviceRecord& entry) : m_interface(entry) {}

  // The connect loop; it offers no simulation.
  bool Connect() override;
  bool ConnectAgain() override { return m_interface.ConnectAgain(); }
  std::uint16_t GetFirmwareVersion() override;
  // Loads the record's HEX file; only a complete image is programmed: 1E, 500 ms, the pages.
  // A transfer error while sending 1E leaves as CStreamException.
  bool Update(const DeviceRecord& record, IFlashProgress* progress) override;

  const CInterfaceATMU& Interface() const { return m_interface; }

 private:
  CInterfaceATMU m_interface;
};
