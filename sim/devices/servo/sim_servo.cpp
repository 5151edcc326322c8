#include "sim/devices/servo/sim_servo.h"

#include <algorithm>

#include "platform/text_format.h"
#include "sim/sim_device_registry.h"
#include "sim/sim_error.h"
#include "sim/sim_options.h"
#include "updater/updater.h"

namespace {

RegisterSimDevice<CSimServo> g_registration(
    "servo",
    "servo trainer, control unit and drive: id=ZQ3351-9F|ZP3351-9F|ZP2290-8E, firmware=N, switch=off|run, "
    "run_asks=K, drive=N, application=N, application_after=N, busy=[CMD:]N, fail=CMD:CODE, running, free=N, "
    "segment_size=N, block_size=N, error_file=N, error_file_text=TEXT, code=C/S:VALUE, refuse_read=C/S, "
    "refuse_write=C/S, gci_error=TYPE:STATUS, record=FILE");

constexpr CSimBootloaderProfile kProfile{.ProductId = CSimServo::kProductId,
                                         .Generation = ESimGeneration::First,
                                         .FriendlyName = CSimServo::kFriendlyName,
                                         .Segments = true};

constexpr const char* kModels[] = {"ZQ3351-9F", "ZP3351-9F", "ZP2290-8E"};
// The C28xx-based unit takes its firmware by the C28xx program download.
constexpr const char* kProgramModel = "ZP2290-8E";

constexpr std::uint8_t kSwitchCommand = 0x90;
constexpr std::uint8_t kIdentityCommand = 0x91;
constexpr std::uint8_t kSetChannel1 = 0x95;
constexpr std::uint8_t kSetChannel2 = 0x96;
constexpr std::uint8_t kGetChannel1 = 0x97;
constexpr std::uint8_t kGetChannel2 = 0x98;
constexpr std::uint8_t kCloseCommand = 0xA2;
constexpr std::uint8_t kUnitCodeValue = 0xA4;
constexpr std::uint8_t kApplicationVersion = 0xB2;
constexpr std::uint8_t kDriveNumber = 0xC0;
constexpr std::uint8_t kOpenLink = 0xC1;
constexpr std::uint8_t kCloseLink = 0xC2;
constexpr std::uint8_t kSendFrame = 0xC3;
constexpr std::uint8_t kReceiveFrame = 0xC4;
constexpr std::uint8_t kNoFrame = '?';

std::string TakeModel(CSimOptions& options) {
  std::string model = options.TakeText("id").value_or(CSimServo::kDefaultModel);
  if (std::find(std::begin(kModels), std::end(kModels), model) == std::end(kModels)) {
    throw CSimError("id=" + model + ": the control unit is ZQ3351-9F, ZP3351-9F or ZP2290-8E");
  }
  return model;
}

bool TakeStartAtRun(CSimOptions& options) {
  std::string position = options.TakeText("switch").value_or("off");
  if (position != "off" && position != "run") throw CSimError("switch=" + position + ": off or run");
  return position == "run" || options.Has("run_asks");
}

std::uint32_t BigEndian(const std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value = value << 8 | bytes[at + i];
  return value;
}

}  // namespace

CSimServo::CSimServo(CSimOptions& options)
    : CSimBootloader(options, kProfile),
      m_model(TakeModel(options)),
      m_runAsks(options.TakeNumber("run_asks", 1000000)),
      m_startAtRun(TakeStartAtRun(options)),
      m_driveNumber(static_cast<std::uint8_t>(options.TakeNumber("drive", 255).value_or(1))),
      m_drive(TakeSimServoDriveSetup(options)) {
  // The bootloader's default version is below the first one that reports an application.
  if (!options.Has("firmware")) {
    std::lock_guard lock(StateMutex());
    SetFirmwareLocked(kDefaultFirmware);
  }
  std::lock_guard lock(StateMutex());
  m_recordedRevision = m_drive.Revision();
  SetRecordTrailerLocked(m_drive.RecordText());
  WriteRecordLocked();
}

std::string CSimServo::OwnIdentity(std::uint16_t firmware) const { return m_model + " " + std::to_string(firmware); }

std::string CSimServo::Describe() const {
  std::lock_guard lock(StateMutex());
  return FormatText("%s, firmware %s, application %s, drive %u", m_model.c_str(),
                    FormatVersion(FirmwareLocked()).c_str(), FormatVersion(m_drive.ApplicationVersion()).c_str(),
                    m_driveNumber);
}

CSimServoDrive CSimServo::Drive() const {
  std::lock_guard lock(StateMutex());
  return m_drive;
}

std::uint16_t CSimServo::ApplicationVersion() const {
  std::lock_guard lock(StateMutex());
  return m_drive.ApplicationVersion();
}

unsigned CSimServo::SwitchAsks() const {
  std::lock_guard lock(StateMutex());
  return m_switchAsks;
}

void CSimServo::Reenumerate() {
  CSimBootloader::Reenumerate();
  // The control unit starts afresh: its link to the drive is closed; the drive runs on.
  std::lock_guard lock(StateMutex());
  m_linkOpen = false;
  m_fromDrive.clear();
}

void CSimServo::RunProgram(CSimConnection& io) {
  try {
    CSimBootloader::RunProgram(io);
  } catch (...) {
    // The host went in the middle of a program download: that one is lost.
    EndProgramIncomplete(io);
    throw;
  }
}

bool CSimServo::ServeOwnCommand(CSimConnection& io, std::uint8_t command) {
  if (m_model == kProgramModel && ServeProgramCommand(io, command)) return true;
  switch (command) {
    case kSwitchCommand:
      AnswerSwitch(io);
      return true;
    case kIdentityCommand:
      io.WriteString(Identity(OwnIdentity(FirmwareVersion())));
      return true;
    case kSetChannel1:
      SetChannel(io, m_channel1);
      return true;
    case kSetChannel2:
      SetChannel(io, m_channel2);
      return true;
    case kGetChannel1:
      SendChannel(io, m_channel1);
      return true;
    case kGetChannel2:
      SendChannel(io, m_channel2);
      return true;
    case kCloseCommand:
      Transcript().Add(io.Id(), ESimEvent::Note, {}, "the host closes the control unit");
      return true;
    case kUnitCodeValue:
      AnswerUnitCodeValue(io);
      return true;
    case kApplicationVersion: {
      const std::uint16_t version = ApplicationVersion();
      io.WritePacket(std::vector<std::uint8_t>{static_cast<std::uint8_t>(version >> 8), static_cast<std::uint8_t>(version)});
      return true;
    }
    case kDriveNumber:
      io.WritePacket(std::vector<std::uint8_t>{m_driveNumber});
      return true;
    case kOpenLink:
    case kCloseLink: {
      {
        // Opening or closing the link starts afresh: frames nobody fetched are dropped, and a
        // transfer a host left half done is forgotten, as the drive's own time-out would.
        std::lock_guard lock(StateMutex());
        m_linkOpen = command == kOpenLink;
        m_fromDrive.clear();
        m_drive.ForgetTransfer();
        AfterDriveLocked(io);
      }
      io.Acknowledge();
      return true;
    }
    case kSendFrame:
      SendFrame(io);
      return true;
    case kReceiveFrame:
      ReceiveFrame(io);
      return true;
    default:
      return false;
  }
}

void CSimServo::AnswerSwitch(CSimConnection& io) {
  bool run;
  {
    std::lock_guard lock(StateMutex());
    ++m_switchAsks;
    run = m_startAtRun && (!m_runAsks || m_switchAsks <= *m_runAsks);
  }
  io.WritePacket(std::vector<std::uint8_t>{static_cast<std::uint8_t>(run ? '?' : '!')});
}

std::vector<std::uint8_t> CSimServo::ReadRequest(CSimConnection& io, std::uint8_t command, std::size_t size) {
  const bool onePacket = io.BytesLeftInFrame() == size;
  std::vector<std::uint8_t> request = io.ReadBytes(size);
  if (!onePacket) {
    io.ReportViolation(FormatText("command %02X with its %zu request bytes not as one packet", command, size));
  }
  return request;
}

void CSimServo::AnswerUnitCodeValue(CSimConnection& io) {
  const std::vector<std::uint8_t> request = ReadRequest(io, kUnitCodeValue, 3);
  const auto code = static_cast<int>(BigEndian(request, 0, 2));
  std::optional<std::uint32_t> value;
  {
    std::lock_guard lock(StateMutex());
    value = m_drive.UnitCodeValue(code, request[2]);
  }
  const std::uint32_t number = value.value_or(0);
  io.WritePacket(std::vector<std::uint8_t>{static_cast<std::uint8_t>(number >> 24), static_cast<std::uint8_t>(number >> 16),
                                           static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number),
                                           static_cast<std::uint8_t>(value ? '!' : '?')});
}

void CSimServo::SetChannel(CSimConnection& io, std::int16_t& channel) {
  const std::vector<std::uint8_t> value = io.ReadBytes(2);
  std::lock_guard lock(StateMutex());
  channel = static_cast<std::int16_t>(value[0] << 8 | value[1]);
}

void CSimServo::SendChannel(CSimConnection& io, const std::int16_t& channel) {
  std::int16_t value;
  {
    std::lock_guard lock(StateMutex());
    value = channel;  // the set value is reached at once
  }
  const auto bits = static_cast<std::uint16_t>(value);
  io.WritePacket(std::vector<std::uint8_t>{static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)});
}

void CSimServo::SendFrame(CSimConnection& io) {
  const std::vector<std::uint8_t> request = ReadRequest(io, kSendFrame, 11);
  CanFrame frame;
  frame.Identifier = static_cast<std::uint16_t>(BigEndian(request, 0, 2));
  frame.Length = request[2];
  std::copy(request.begin() + 3, request.end(), frame.Data);
  bool linkOpen;
  {
    std::lock_guard lock(StateMutex());
    linkOpen = m_linkOpen;
  }
  if (!linkOpen || frame.Length > 8) {
    io.ReportViolation(linkOpen ? FormatText("a frame of length %u: refused", frame.Length)
                                : "a frame for the drive while the link is closed (C1 first): refused");
    io.Refuse();
    return;
  }
  // A refused acknowledgement plays a frame the control unit could not send; a garbled one, a
  // frame whose answer was lost on the way: the host gets the byte the fault gives.
  if (const std::uint8_t answer = io.NextAcknowledgement(); answer != CSimFaults::kAcknowledge) {
    Transcript().Add(io.Id(), ESimEvent::Note, {}, "the frame is not sent to the drive");
    io.WritePacket(std::vector<std::uint8_t>{answer});
    return;
  }
  {
    std::lock_guard lock(StateMutex());
    for (const CanFrame& answer : m_drive.Receive(frame)) m_fromDrive.push_back(answer);
    AfterDriveLocked(io);
  }
  io.WritePacket(std::vector<std::uint8_t>{CSimFaults::kAcknowledge});
}

void CSimServo::ReceiveFrame(CSimConnection& io) {
  const std::vector<std::uint8_t> request = ReadRequest(io, kReceiveFrame, 2);
  std::optional<CanFrame> frame;
  {
    std::lock_guard lock(StateMutex());
    if (!m_fromDrive.empty()) {
      frame = m_fromDrive.front();
      m_fromDrive.pop_front();
    }
  }
  if (!frame) {
    // The control unit waits for the drive as long as it was told, then gives up.
    io.Wait(BigEndian(request, 0, 2));
    io.WritePacket(std::vector<std::uint8_t>{kNoFrame});
    return;
  }
  std::vector<std::uint8_t> answer = {CSimFaults::kAcknowledge, static_cast<std::uint8_t>(frame->Identifier >> 8),
                                      static_cast<std::uint8_t>(frame->Identifier), frame->Length};
  answer.insert(answer.end(), frame->Data, frame->Data + 8);
  io.WritePacket(answer);
}

void CSimServo::AfterDriveLocked(CSimConnection& io) {
  for (const CSimServoEvent& event : m_drive.TakeEvents()) {
    if (event.Violation) {
      ReportViolation(io.Id(), event.Text);
    } else {
      Transcript().Add(io.Id(), ESimEvent::Note, {}, event.Text);
    }
  }
  if (m_drive.Revision() == m_recordedRevision) return;
  m_recordedRevision = m_drive.Revision();
  SetRecordTrailerLocked(m_drive.RecordText());
  WriteRecordLocked();
}
