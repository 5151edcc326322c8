#pragma once
// The two network units, ZT7720-4K (device type 7720) and ZT7720-4M (7721): the person picks
// the unit in the "Connect" dialog, the updater connects over TCP (port 502 unless the dialog
// gives another), checks the unit's identification and programs an Intel HEX image in blocks
// of 4 KiB.
//
// Wire: A2 -> identification text ended by 00 (model code at index 0, the firmware version as
// a decimal number from index 10); per block A0 and the address (bits 15-8, 7-0, 31-24, 23-16)
// as one buffered write, the 4096 data bytes as one send, 200 ms, then "!" from the unit;
// A1 at the end, unanswered.

#include <cstdint>
#include <string>

#include "net/stream_socket.h"
#include "updater/updater.h"

// The socket stream to one unit, with what the updater learnt about it.
class CBusbar : public CStreamSocket {
 public:
  std::uint16_t deviceType = 0;
  std::uint16_t firmwareVersion = 0;
};

class CUpdaterTCPIP : public CUpdater {
 public:
  static constexpr std::uint16_t kDefaultPort = 502;
  static constexpr std::uint16_t kConfigurationType = 7719;
  static constexpr unsigned kBlockSize = 4096;
  static constexpr std::uint32_t kImageSize = 0x100000;
  static constexpr std::uint32_t kPauseBeforeFirstBlock = 500;
  static constexpr std::uint32_t kPauseAfterBlock = 200;
  static constexpr std::uint8_t kIdentify = 0xA2;
  static constexpr std::uint8_t kProgramBlock = 0xA0;
  static constexpr std::uint8_t kEnd = 0xA1;
  // How long a unit may take to take the connection: a host that never answers would
  // otherwise hold the person for the system's own limit, about two minutes.
  static constexpr int kConnectBoundSeconds = 10;
  // A unit restarting after its programming is tried this often, a pause apart.
  static constexpr int kComebackAttempts = 10;
  static constexpr std::uint32_t kComebackPause = 1000;

  bool Connect() override;
  bool ConnectAgain() override;
  std::uint16_t GetFirmwareVersion() override { return m_stream.firmwareVersion; }
  std::uint16_t GetApplicationVersion() override { return 0; }
  // Lets the unit go when it ends, either way: the unit takes one connection at a time, and
  // another program may want it while the done page is up.
  bool Update(const DeviceRecord& record, IFlashProgress* progress) override;
  bool Finish() override;
  // Another bound for the connect (tests, which must not wait ten seconds).
  void SetConnectBound(int seconds) { m_connectBoundSeconds = seconds; }

  // "ZT7720-4K" for 7720, "ZT7720-4M" for any other type.
  std::string ModelCode() const;
  CBusbar& Stream() { return m_stream; }

  // The firmware version in an identification text: the decimal number from index 10
  // (leading blanks skipped, a sign allowed), 0 without one.
  static std::uint16_t VersionFromIdentification(const std::string& text);

 protected:
  explicit CUpdaterTCPIP(std::uint16_t deviceType);

 private:
  bool ChooseDevice();
  // The identification over a connection just made (`connectError` is the connect's result);
  // a failure is shown and the connection let go.
  bool ConnectAndIdentify(int connectError);
  void SendBlock(std::uint32_t address, const std::uint8_t* data);

  CBusbar m_stream;
  int m_connectBoundSeconds = kConnectBoundSeconds;
};

class CUpdater5R : public CUpdaterTCPIP {
 public:
  CUpdater5R() : CUpdaterTCPIP(7720) {}
};

class CUpdater5S : public CUpdaterTCPIP {
 public:
  CUpdater5S() : CUpdaterTCPIP(7721) {}
};
