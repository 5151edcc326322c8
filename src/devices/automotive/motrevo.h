#pragma once
// The automotive trainer: its protocol object and its updater. The trainer is not identified
// by the catalog's Id but by a fixed order-number template, and its firmware is a text file
// that the host sends line by line without reading it (motrevo_text_file.h):
//
//   identify             0B -> the identity text, ended by 00
//   restart to loading   32 -> nothing; after 5000 ms the host connects and identifies anew
//   each line            the line's bytes, no line end -> AA done, F1 refused, other: next

#include <cstdint>
#include <memory>
#include <string>

#include "transport/stream_device.h"
#include "updater/updater.h"

class CMotrevo : public CStreamDevice {
 public:
  // Compared over its first nine characters ("ZRxxxx-xx", the x taken literally); the whole
  // template is named when another device answers.
  static constexpr const char* kIdentityTemplate = "ZRxxxx-xx.AAA.BBB.CCC";
  // The firmware version is the number from this character on (AAA).
  static constexpr std::size_t kVersionIndex = 10;

  static constexpr std::uint8_t kIdentifyCommand = 0x0B;
  static constexpr std::uint8_t kLoaderCommand = 0x32;
  static constexpr std::uint8_t kDone = 0xAA;
  static constexpr std::uint8_t kRefused = 0xF1;

  bool Identify() override;

 protected:
  std::unique_ptr<CStreamIO> CreateTransport() override;
  bool OffersSimulation() const override { return true; }

 private:
  friend class CUpdaterMotrevo;
  // Deletes the transport, so that the next OpenAndIdentify starts with a fresh one.
  void DropTransport() { m_stream.reset(); }
};

class CUpdaterMotrevo : public CUpdater {
 public:
  // The trainer restarts into its loader after 0x32; then it is on the bus again.
  static constexpr std::uint32_t kRestartWait = 5000;
  static constexpr int kReconnectFailed = 20016;

  bool Connect() override;
  bool ConnectAgain() override { return m_device.ConnectAgain(); }
  std::uint16_t GetFirmwareVersion() override;
  // Restarts the trainer into its loader, connects anew and sends the record's firmware text
  // line by line under the animation window; the progress interface is not used. True when the
  // trainer said it is done or every line was sent; false when the file cannot be read (its
  // message is shown), the trainer refuses a line (nothing is shown) or a transfer fails or
  // the trainer does not come back (the transport's message is shown).
  bool Update(const DeviceRecord& record, IFlashProgress* progress) override;

  const CMotrevo& Device() const { return m_device; }

 private:
  bool SendLines(const class CMotrevoTextFile& file);

  CMotrevo m_device;
};

// The identity as the trainer's characters are read: each byte a signed 8-bit value widened to
// 16 bits, so that bytes from 0x80 up stand for U+FF80..U+FFFF; in UTF-8.
std::string MotrevoTextToUtf8(const std::string& text);
