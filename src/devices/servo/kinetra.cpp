#include "devices/servo/kinetra.h"

#include <cmath>
#include <cstring>

#include "devices/servo/servo_usb.h"
#include "net/device_manager_settings.h"
#include "net/stream_socket.h"
#include "platform/clock.h"
#include "platform/string_table.h"
#include "platform/user_interface.h"

namespace {

constexpr std::uint8_t kSwitchStateCommand = 0x90;
constexpr std::uint8_t kIdentifyCommand = 0x91;
constexpr std::uint8_t kSetChannel1Command = 0x95;
constexpr std::uint8_t kSetChannel2Command = 0x96;
constexpr std::uint8_t kGetChannel1Command = 0x97;
constexpr std::uint8_t kGetChannel2Command = 0x98;
constexpr std::uint8_t kCloseCommand = 0xA2;
constexpr std::uint8_t kUnitCodeValueCommand = 0xA4;
constexpr std::uint8_t kApplicationVersionCommand = 0xB2;
constexpr std::uint8_t kDriveNumberCommand = 0xC0;

// The control unit needs this long after the port opened before it answers its identity.
constexpr std::uint32_t kIdentifyPause = 500;

constexpr int kSwitchToRunMessage = 20105;
constexpr int kSwitchToOffMessage = 20106;

// Drive code 3028 reads this on a trainer whose drives 1 and 2 count as 5 and 6.
constexpr unsigned kDriveOffsetCode = 3028;
constexpr std::uint32_t kDriveOffsetValue = 60;
constexpr std::uint8_t kDriveOffset = 4;

// Channel 2 travels in hundredths.
constexpr double kChannel2Scale = 100.0;
// The settling rules: within this share of the set value counts as reached; at most this many
// readings (channel 2) or extra pauses (channel 1).
constexpr double kSettledShare = 0.05;
constexpr int kMaxSettleSteps = 10;

// The value truncated toward zero, kept to its low 16 bits as the control unit takes it. A
// value beyond any integer (or not a number) is held at the range's ends first, so that the
// conversion is defined.
std::int16_t TruncateTo16Bits(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kLimit = 2147483647.0;
  const double truncated = std::trunc(std::fmax(-kLimit, std::fmin(kLimit, value)));
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::int32_t>(truncated)));
}

bool Settled(double value, double reading) { return std::fabs(value - reading) <= kSettledShare * std::fabs(value); }

bool IsOpen(const CStreamIO* stream) { return stream != nullptr && stream->IsOpen(); }

// Whether the identity begins with one of the trainer's model codes (exact, case-sensitive).
bool IsTrainerIdentity(const std::string& identity) {
  for (const char* code : CKinetra::kModelCodes) {
    if (std::strncmp(identity.c_str(), code, CStreamDevice::kModelCodeLength) == 0) return true;
  }
  return false;
}

// The channels are read and set without asking whether the unit is there: a missing transport
// is a transfer error like any other.
CStreamIO& Present(CStreamIO* stream) {
  if (stream == nullptr) CStreamIO::ThrowStreamException(CStreamException::kDefaultMessageId);
  return *stream;
}

double ReadSignedWord(CStreamIO& stream, std::uint8_t command) {
  stream.WriteByte(command);
  return static_cast<std::int16_t>(stream.ReadWord());
}

void WriteSignedWord(CStreamIO& stream, std::uint8_t command, std::int16_t value) {
  const auto bits = static_cast<std::uint16_t>(value);
  const std::uint8_t word[] = {static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)};
  stream.WriteByte(command);
  stream.Write(word, sizeof word);
}

}  // namespace

bool CKinetra::Identify() {
  if (!IsOpen(m_stream.get())) return false;
  m_identity.clear();
  m_stream->ClearInput();
  Clock().Sleep(kIdentifyPause);
  m_stream->WriteByte(kIdentifyCommand);
  m_identity = m_stream->ReadString();
  // The trainer names no other device in a message; the connect loop's dialog says enough.
  if (!IsTrainerIdentity(m_identity)) return false;
  m_stream->ClearInput();
  return true;
}

void CKinetra::CloseDevice() {
  if (!IsOpen(m_stream.get())) return;
  try {
    m_stream->WriteByte(kCloseCommand);
  } catch (const CStreamException&) {
    // The work with the control unit is over; a unit that went away needs no close.
  }
}

bool CKinetra::CheckSwitchState(bool run) {
  if (!IsOpen(m_stream.get())) return true;
  // The unit refuses ("?") while its switch is at RUN and accepts ("!") at OFF.
  const std::uint8_t expected = run ? CStreamIO::kRefusal : CStreamIO::kAck;
  try {
    m_stream->WriteByte(kSwitchStateCommand);
    while (m_stream->ReadByte() != expected) {
      const std::string prompt = LoadResString(run ? kSwitchToRunMessage : kSwitchToOffMessage);
      if (UserInterface().MessageBox(prompt, MB_OKCANCEL) == IDCANCEL) return false;
      m_stream->WriteByte(kSwitchStateCommand);
    }
    return true;
  } catch (const CStreamException& error) {
    error.ReportError();
    return false;
  }
}

bool CKinetra::ReadUnitCodeValue(unsigned code, unsigned subindex, std::uint32_t& value) {
  if (!IsOpen(m_stream.get())) return true;
  const std::uint8_t request[] = {kUnitCodeValueCommand, static_cast<std::uint8_t>(code >> 8),
                                  static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(subindex)};
  m_stream->BeginWriteBuffer();
  m_stream->Write(request, sizeof request);
  m_stream->EndWriteBuffer();
  value = m_stream->ReadDWord();
  return m_stream->ReadByte() != CStreamIO::kRefusal;
}

std::uint8_t CKinetra::GetDriveNumber() {
  if (!IsOpen(m_stream.get())) return 0;
  m_stream->WriteByte(kDriveNumberCommand);
  std::uint8_t number = m_stream->ReadByte();
  if (number == 0) return 0;
  std::uint32_t value = 0;
  if (ReadUnitCodeValue(kDriveOffsetCode, 0, value) && value == kDriveOffsetValue && (number == 1 || number == 2)) {
    number += kDriveOffset;
  }
  return number;
}

std::uint16_t CKinetra::GetFirmwareVersion() const { return ParseVersionAt(m_identity, kVersionIndex); }

std::uint16_t CKinetra::GetApplicationVersion() {
  if (m_identity.empty() || GetFirmwareVersion() < kFirstApplicationFirmware) return 0;
  if (!IsOpen(m_stream.get())) return 0;
  m_stream->WriteByte(kApplicationVersionCommand);
  return m_stream->ReadWord();
}

double CKinetra::GetChannel1() { return ReadSignedWord(Present(m_stream.get()), kGetChannel1Command); }

double CKinetra::GetChannel2() {
  return ReadSignedWord(Present(m_stream.get()), kGetChannel2Command) / kChannel2Scale;
}

void CKinetra::SetChannel1(double value) {
  WriteSignedWord(Present(m_stream.get()), kSetChannel1Command, TruncateTo16Bits(value));
}

void CKinetra::SetChannel2(double value) {
  WriteSignedWord(Present(m_stream.get()), kSetChannel2Command, TruncateTo16Bits(value * kChannel2Scale));
}

void CKinetra::SetChannel2AndWait(double value) {
  GetChannel2();  // one reading before the change, not looked at
  SetChannel2(value);
  int readings = 1;
  while (!Settled(value, GetChannel2()) && m_keepWaiting && readings < kMaxSettleSteps) ++readings;
}

void CKinetra::SetChannel1AndWait(double value) {
  SetChannel1(value);
  // The channel moves at the ramp rate: wait twice as long as the ramp from here needs.
  const double distance = std::fabs(value - GetChannel1());
  const auto pause = static_cast<std::uint32_t>(distance / m_rampRate * 2000.0);
  Clock().Sleep(pause);
  double reading = GetChannel1();
  for (int pauses = 0; !Settled(value, reading) && m_keepWaiting && pauses < kMaxSettleSteps; ++pauses) {
    Clock().Sleep(pause);
    reading = GetChannel1();
  }
}

std::unique_ptr<CStreamIO> CKinetra::CreateTransport() {
  if (IsRemoteDeviceEnabled(kRemoteDeviceKey)) return std::make_unique<CStreamSocketUsb>(kRemoteDeviceKey);
  return std::make_unique<CServoUSB>();
}
