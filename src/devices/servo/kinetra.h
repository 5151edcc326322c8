#pragma once
// The servo trainer's control unit. The PC talks only to the control unit: it answers byte
// commands of its own (switch state, identity, two value channels, application version, the
// number of the drive attached, a drive code value) and passes frames to and from the drive's
// field bus. Multi-byte numbers are big-endian; "!" accepts.
//
//   90                      -> "!" switch at OFF, "?" at RUN
//   91                      -> identity text, zero-ended ("ZQ3351-9F 123")
//   95 <value:2>               channel 1 set value (signed)
//   96 <value:2>               channel 2 set value in hundredths (signed)
//   97                      -> channel 1 (signed 16 bits)
//   98                      -> channel 2 in hundredths (signed 16 bits)
//   A2                         close; not answered
//   A4 <code:2> <sub:1>     -> <value:4> <status:1>   one packet; status "?" = not delivered
//   B2                      -> application version (16 bits)
//   C0                      -> number of the drive attached, 0 for none
//   C1 / C2                 -> "!" when the link to the drive is open / closed
//   C3 <id:2> <len:1> <8 data bytes>       -> "!" when sent; one packet
//   C4 <timeout ms:2>       -> "!" <id:2> <len:1> <8 data bytes>, or one other byte: no frame

#include <cstdint>
#include <memory>
#include <string>

#include "transport/stream_device.h"

// One frame of the drive's field bus as the control unit passes it.
struct CanFrame {
  std::uint16_t Identifier = 0;
  std::uint8_t Length = 0;  // valid data bytes, 0..8; all 8 travel
  std::uint8_t Data[8] = {};
};

// Two value channels of the trainer with their settling rules. Channel 2 travels in
// hundredths.
class CDriveBase {
 public:
  virtual ~CDriveBase() = default;
  virtual double GetChannel1() = 0;
  virtual double GetChannel2() = 0;
  virtual void SetChannel1(double value) = 0;
  virtual void SetChannel2(double value) = 0;
  // Sets channel 2, then reads it until it is within 5 % of the value (at most 10 readings,
  // more than one only while the keep-waiting flag is set).
  virtual void SetChannel2AndWait(double value) = 0;
  // Sets channel 1 and waits as long as the ramp needs, then re-reads while the keep-waiting
  // flag is set and the reading is more than 5 % away (at most 10 more pauses).
  virtual void SetChannel1AndWait(double value) = 0;
};

class CKinetra : public CStreamDevice, public CDriveBase {
 public:
  // The three model codes an identity may begin with.
  static constexpr const char* kModelCodes[] = {"ZQ3351-9F", "ZP3351-9F", "ZP2290-8E"};
  // The catalog's device key for the remote device server.
  static constexpr const char* kRemoteDeviceKey = "ZQ3351-9F";
  // The firmware version is the number in the identity from this character on.
  static constexpr std::size_t kVersionIndex = 10;
  // Firmware from this version on reports an application version.
  static constexpr std::uint16_t kFirstApplicationFirmware = 120;

  bool Identify() override;
  // Sends the close command when the transport is open; a transfer error is dropped.
  virtual void CloseDevice();

  // Asks until the switch is at RUN (`run`) or OFF; false when the person cancels or the
  // transport fails (the error is shown). True at once without an open transport.
  bool CheckSwitchState(bool run);
  // A drive code value through the control unit; false when the drive did not deliver it.
  // True, `value` untouched, without an open transport.
  bool ReadUnitCodeValue(unsigned code, unsigned subindex, std::uint32_t& value);
  // The number of the drive attached (0 for none); drives 1 and 2 count as 5 and 6 when
  // drive code 3028 reads 60.
  std::uint8_t GetDriveNumber();
  std::uint16_t GetFirmwareVersion() const;
  // 0 without an identity or below firmware kFirstApplicationFirmware.
  std::uint16_t GetApplicationVersion();

  double GetChannel1() override;
  double GetChannel2() override;
  void SetChannel1(double value) override;
  void SetChannel2(double value) override;
  void SetChannel2AndWait(double value) override;
  void SetChannel1AndWait(double value) override;

 protected:
  // The remote device stream when the device manager enables it, the USB transport otherwise.
  std::unique_ptr<CStreamIO> CreateTransport() override;
  bool OffersSimulation() const override { return true; }

  bool m_keepWaiting = false;
  double m_rampRate = 4000.0;
};
