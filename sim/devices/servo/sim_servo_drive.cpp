#include "sim/devices/servo/sim_servo_drive.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <algorithm>
#include <charconv>

#include "devices/servo/gci_message.h"
#include "platform/text_format.h"
#include "sim/devices/servo/sim_servo_bytes.h"
#include "sim/firmware_version_tag.h"
#include "sim/sim_error.h"
#include "sim/sim_options.h"
#include "updater/updater.h"

namespace {

constexpr int kDeviceCommandCode = 2;
constexpr int kCommandCode = 514;
constexpr int kProgramSelection = 1;  // 514/1 holds a number; 514/2..6 start commands
constexpr int kStatusCode = 515;
constexpr std::uint32_t kRunning = 2;  // what 515 reads while a command runs
constexpr std::uint32_t kFinishDownload = 24;

// Status word bits.
constexpr std::uint32_t kControllerInhibit = 0x0080;  // 150/0
constexpr std::uint32_t kApplicationRunning = 0x0800;  // 155/0

// Device commands written to 2/0.
constexpr std::uint32_t kSetInhibit = 41;
constexpr std::uint32_t kClearInhibit = 42;
constexpr std::uint32_t kStopApplication = 32;
constexpr std::uint32_t kStartApplication = 31;

// The data a block or segmented download may bring: a write request with its header and one
// segment of the size the drive reports (at least the 1024 bytes the host uses without one).
std::size_t MaxMessage(std::uint32_t segmentSize) {
  return gci::kHeaderSize + std::max<std::size_t>(segmentSize, 1024);
}

std::uint64_t ParseNumber(std::string_view text, std::uint64_t maximum, const std::string& what) {
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > maximum) {
    throw CSimError(FormatText("%s: a number up to %llu expected", what.c_str(),
                               static_cast<unsigned long long>(maximum)));
  }
  return value;
}

// "A:B" split at the first `separator`; CSimError naming the option when there is none.
std::pair<std::string, std::string> Split(const std::string& text, char separator, const std::string& option) {
  const std::size_t at = text.find(separator);
  if (at == std::string::npos) throw CSimError(option + "=" + text + ": expected " + option + "=A" + separator + "B");
  return {text.substr(0, at), text.substr(at + 1)};
}

CSimServoCode ParseCode(const std::string& text, const std::string& option) {
  auto [code, subindex] = Split(text, '/', option);
  return {static_cast<int>(ParseNumber(code, gci::kCodeObjectBase, option + " code")),
          static_cast<int>(ParseNumber(subindex, 255, option + " subindex"))};
}

std::set<CSimServoCode> TakeCodes(CSimOptions& options, const std::string& option) {
  std::set<CSimServoCode> codes;
  for (const std::string& text : options.TakeAll(option)) codes.insert(ParseCode(text, option));
  return codes;
}

std::map<CSimServoCode, CSimServoValue> DefaultValues(bool running) {
  using N = CSimServoNumber;
  std::map<CSimServoCode, CSimServoValue> values = {
      {{kDeviceCommandCode, 0}, N{0, 4}},
      {{99, 0}, std::string("SERVO DRIVE 3351")},
      {{150, 0}, N{running ? 0 : kControllerInhibit, 2}},
      {{155, 0}, N{running ? kApplicationRunning : 0, 2}},
      {{203, 5}, std::string("MEM-1024")},
      {{203, 6}, std::string("SAFE-NONE")},
      {{513, 0}, std::string(CSimServoDrive::kDefaultFolder)},
      {{kStatusCode, 0}, N{0, 4}},
      {{3028, 0}, N{50, 4}},
  };
  for (int subindex = 1; subindex <= 6; ++subindex) values[{kCommandCode, subindex}] = N{0, 4};
  return values;
}

}  // namespace

std::string SimServoSha256(std::span<const std::uint8_t> bytes) {
  QByteArray data(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
  return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex().toUpper().toStdString();
}

CSimServoDriveSetup TakeSimServoDriveSetup(CSimOptions& options) {
  CSimServoDriveSetup setup;
  setup.BlockSize = static_cast<std::uint8_t>(options.TakeNumber("block_size", 255).value_or(setup.BlockSize));
  setup.FreeBytes = static_cast<std::uint32_t>(options.TakeNumber("free", 0xFFFFFFFF).value_or(setup.FreeBytes));
  setup.SegmentSize = static_cast<std::uint32_t>(options.TakeNumber("segment_size", 0xFFFF).value_or(setup.SegmentSize));
  for (const std::string& text : options.TakeAll("busy")) {
    if (text.find(':') == std::string::npos) {
      setup.BusyPolls = static_cast<unsigned>(ParseNumber(text, 1000000, "busy"));
    } else {
      auto [command, polls] = Split(text, ':', "busy");
      setup.BusyPollsFor[static_cast<int>(ParseNumber(command, 0xFFFFFFFF, "busy command"))] =
          static_cast<unsigned>(ParseNumber(polls, 1000000, "busy polls"));
    }
  }
  for (const std::string& text : options.TakeAll("fail")) {
    auto [command, result] = Split(text, ':', "fail");
    setup.Results[static_cast<int>(ParseNumber(command, 0xFFFFFFFF, "fail command"))] =
        static_cast<std::uint32_t>(ParseNumber(result, 0xFFFFFFFF, "fail result"));
  }
  setup.ApplicationRunning = options.TakeFlag("running").value_or(false);
  setup.ApplicationVersion = static_cast<std::uint16_t>(options.TakeNumber("application", 0xFFFF).value_or(setup.ApplicationVersion));
  if (auto after = options.TakeNumber("application_after", 0xFFFF)) setup.ApplicationAfter = static_cast<std::uint16_t>(*after);
  setup.RefusedReads = TakeCodes(options, "refuse_read");
  setup.RefusedWrites = TakeCodes(options, "refuse_write");
  for (const std::string& text : options.TakeAll("gci_error")) {
    auto [type, status] = Split(text, ':', "gci_error");
    setup.FailedMessages[static_cast<std::uint8_t>(ParseNumber(type, 255, "gci_error type"))] =
        static_cast<std::uint16_t>(ParseNumber(status, 0xFFFF, "gci_error status"));
  }
  for (const std::string& text : options.TakeAll("code")) {
    auto [code, value] = Split(text, ':', "code");
    setup.Codes[ParseCode(code, "code")] = value;
  }
  if (auto size = options.TakeNumber("error_file", 1 << 20)) {
    std::string text;
    while (text.size() < *size) text += "module check failed\n";
    text.resize(*size);
    setup.ErrorFile = std::vector<std::uint8_t>(text.begin(), text.end());
  }
  if (auto text = options.TakeText("error_file_text")) {
    if (setup.ErrorFile) throw CSimError("error_file= and error_file_text= exclude each other");
    setup.ErrorFile = std::vector<std::uint8_t>(text->begin(), text->end());
  }
  return setup;
}

CSimServoDrive::CSimServoDrive(CSimServoDriveSetup setup)
    : m_setup(std::move(setup)),
      m_values(DefaultValues(m_setup.ApplicationRunning)),
      m_files(m_setup.FreeBytes, m_setup.SegmentSize),
      m_applicationVersion(m_setup.ApplicationVersion) {
  for (const auto& [code, text] : m_setup.Codes) {
    auto known = m_values.find(code);
    const bool number = known != m_values.end() ? std::holds_alternative<CSimServoNumber>(known->second)
                                                : !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    if (!number) {
      m_values[code] = text;
      continue;
    }
    const std::uint8_t size = known != m_values.end() ? std::get<CSimServoNumber>(known->second).Size : 4;
    m_values[code] = CSimServoNumber{static_cast<std::uint32_t>(ParseNumber(text, 0xFFFFFFFF, "code value")), size};
  }
  for (const auto& [type, status] : m_setup.FailedMessages) m_files.FailType(type, status);
  if (m_setup.ErrorFile) {
    const auto* folder = std::get_if<std::string>(&m_values.at({513, 0}));
    m_files.Preload((folder ? *folder : std::string(kDefaultFolder)) + "\\" + kErrorFileName, *m_setup.ErrorFile);
  }
}

void CSimServoDrive::ForgetTransfer() {
  if (m_state != EState::Idle) Note("drive: a transfer left half done is dropped");
  m_state = EState::Idle;
}

std::vector<CSimServoEvent> CSimServoDrive::TakeEvents() { return std::exchange(m_events, {}); }

std::optional<CSimServoValue> CSimServoDrive::Value(int code, int subindex) const {
  auto value = m_values.find({code, subindex});
  if (value == m_values.end()) return std::nullopt;
  return value->second;
}

std::optional<std::uint32_t> CSimServoDrive::UnitCodeValue(int code, int subindex) const {
  if (m_setup.RefusedReads.contains({code, subindex})) return std::nullopt;
  std::optional<CSimServoValue> value = Value(code, subindex);
  if (!value || !std::holds_alternative<CSimServoNumber>(*value)) return std::nullopt;
  return std::get<CSimServoNumber>(*value).Value;
}

// ----- frames

CanFrame CSimServoDrive::Answer(std::initializer_list<std::uint8_t> bytes) const {
  CanFrame frame;
  frame.Identifier = kAnswerIdentifier;
  frame.Length = 8;
  std::copy(bytes.begin(), bytes.end(), frame.Data);
  return frame;
}

CanFrame CSimServoDrive::ObjectAnswer(std::uint8_t d0, std::uint16_t index, std::uint8_t subindex) const {
  return Answer({d0, static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8), subindex});
}

std::vector<CanFrame> CSimServoDrive::Abort(std::uint32_t reason, const std::string& why, bool violation) {
  CanFrame frame = ObjectAnswer(0x80, m_index, m_subindex);
  SimServoPut(frame.Data, 4, reason);
  m_state = EState::Idle;
  m_events.push_back({violation, FormatText("drive: abort %08X for %04X/%u: ", reason, m_index, m_subindex) + why});
  return {frame};
}

std::vector<CanFrame> CSimServoDrive::Receive(const CanFrame& frame) {
  if (frame.Identifier != kRequestIdentifier) {
    m_events.push_back({true, FormatText("drive: a frame on identifier %03X, not on the drive's %03X: no answer",
                                         frame.Identifier, kRequestIdentifier)});
    return {};
  }
  if (frame.Length > 8) {
    m_events.push_back({true, FormatText("drive: a frame of length %u dropped", frame.Length)});
    return {};
  }
  if (m_state == EState::BlockSegments) return BlockSegment(frame);
  if (m_state == EState::BlockEnd) return BlockEnd(frame);
  switch (frame.Data[0] >> 5) {
    case 0:
      return DownloadSegment(frame);
    case 1:
    case 2:
    case 6:
      return Initiate(frame);
    case 3:
      return UploadSegment(frame);
    case 4:
      m_state = EState::Idle;
      Note("drive: the host aborted the transfer");
      return {};
    default:
      return Abort(kAbortCommand, FormatText("no transfer starts with %02X", frame.Data[0]));
  }
}

std::vector<CanFrame> CSimServoDrive::Initiate(const CanFrame& frame) {
  const std::uint8_t d0 = frame.Data[0];
  if (m_state != EState::Idle) Note("drive: a new transfer begins before the last one ended");
  m_state = EState::Idle;
  m_index = static_cast<std::uint16_t>(SimServoGet(frame.Data, 1, 2));
  m_subindex = frame.Data[3];
  switch (d0 >> 5) {
    case 2:
      return InitiateUpload(m_index, m_subindex);
    case 1:
      if ((d0 & 0x02) != 0) return ExpeditedDownload(frame, m_index, m_subindex);
      return InitiateDownload(frame, m_index, m_subindex, false);
    default:
      if ((d0 & 0x01) != 0) return Abort(kAbortCommand, "the end of a block download without one");
      return InitiateDownload(frame, m_index, m_subindex, true);
  }
}

std::vector<CanFrame> CSimServoDrive::InitiateUpload(std::uint16_t index, std::uint8_t subindex) {
  if (index == gci::kMessageChannelIndex && subindex == 0) {
    if (!m_answer) return Abort(kAbortNoData, "the message channel has no answer waiting");
    m_data = std::move(*m_answer);
    m_answer.reset();
  } else {
    const int code = gci::kCodeObjectBase - index;
    if (index > gci::kCodeObjectBase || !m_values.contains({code, subindex})) {
      return Abort(kAbortNoObject, "no such object", false);
    }
    if (m_setup.RefusedReads.contains({code, subindex})) return Abort(kAbortRefused, "refuse_read", false);
    if (code == kStatusCode) std::get<CSimServoNumber>(m_values.at({code, subindex})).Value = ReadStatus();
    const CSimServoValue& value = m_values.at({code, subindex});
    if (const auto* number = std::get_if<CSimServoNumber>(&value)) {
      CanFrame answer = ObjectAnswer(static_cast<std::uint8_t>(0x43 | (4 - number->Size) << 2), index, subindex);
      SimServoPut(answer.Data, 4, number->Value, number->Size);
      return {answer};
    }
    const std::string& text = std::get<std::string>(value);
    m_data.assign(text.begin(), text.end());
    if (!m_data.empty() && m_data.size() <= 4) {
      CanFrame answer = ObjectAnswer(static_cast<std::uint8_t>(0x43 | (4 - m_data.size()) << 2), index, subindex);
      std::copy(m_data.begin(), m_data.end(), answer.Data + 4);
      return {answer};
    }
  }
  m_state = EState::Upload;
  m_position = 0;
  m_toggle = 0;
  CanFrame answer = ObjectAnswer(0x41, index, subindex);
  SimServoPut(answer.Data, 4, static_cast<std::uint32_t>(m_data.size()));
  return {answer};
}

std::vector<CanFrame> CSimServoDrive::UploadSegment(const CanFrame& frame) {
  if (m_state != EState::Upload) return Abort(kAbortCommand, "an upload segment asked for without an upload");
  const std::uint8_t toggle = frame.Data[0] & 0x10;
  if (toggle != m_toggle) return Abort(kAbortToggle, "upload segment asked for with the wrong toggle bit");
  const std::size_t count = std::min<std::size_t>(7, m_data.size() - m_position);
  const bool last = m_position + count == m_data.size();
  CanFrame answer = Answer({static_cast<std::uint8_t>(toggle | (7 - count) << 1 | (last ? 1 : 0))});
  std::copy_n(m_data.begin() + static_cast<std::ptrdiff_t>(m_position), count, answer.Data + 1);
  m_position += count;
  m_toggle ^= 0x10;
  if (last) m_state = EState::Idle;
  return {answer};
}

std::vector<CanFrame> CSimServoDrive::ExpeditedDownload(const CanFrame& frame, std::uint16_t index,
                                                        std::uint8_t subindex) {
  if (index == gci::kMessageChannelIndex) return Abort(kAbortAccess, "a message sent expedited");
  const unsigned size = (frame.Data[0] & 0x01) != 0 ? 4 - (frame.Data[0] >> 2 & 3) : 4;
  const std::uint32_t value = SimServoGet(frame.Data, 4, size);
  if (index > gci::kCodeObjectBase) return Abort(kAbortNoObject, "no such object", false);
  if (std::uint32_t reason = WriteCode(gci::kCodeObjectBase - index, subindex, value)) {
    return Abort(reason, FormatText("write of %u refused", value), false);
  }
  return {ObjectAnswer(0x60, index, subindex)};
}

std::vector<CanFrame> CSimServoDrive::InitiateDownload(const CanFrame& frame, std::uint16_t index,
                                                       std::uint8_t subindex, bool block) {
  const char* kind = block ? "block download" : "segmented download";
  if (index != gci::kMessageChannelIndex || subindex != 0) {
    return Abort(kAbortAccess, std::string("a ") + kind + " to an object other than the message channel");
  }
  const bool sized = (frame.Data[0] & (block ? 0x02 : 0x01)) != 0;
  m_announced.reset();
  if (sized) {
    m_announced = SimServoGet(frame.Data, 4);
    if (*m_announced > MaxMessage(m_setup.SegmentSize)) {
      return Abort(kAbortLength, FormatText("%s of %u bytes, more than a message holds", kind, *m_announced));
    }
  }
  m_data.clear();
  m_toggle = 0;
  m_sequence = 0;
  if (!block) {
    m_state = EState::SegmentedDownload;
    return {ObjectAnswer(0x60, index, subindex)};
  }
  m_state = EState::BlockSegments;
  return {Answer({0xA4, static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8), subindex,
                  m_setup.BlockSize})};
}

std::vector<CanFrame> CSimServoDrive::DownloadSegment(const CanFrame& frame) {
  if (m_state != EState::SegmentedDownload) return Abort(kAbortCommand, "a download segment without a download");
  const std::uint8_t d0 = frame.Data[0];
  const std::uint8_t toggle = d0 & 0x10;
  if (toggle != m_toggle) return Abort(kAbortToggle, "download segment with the wrong toggle bit");
  const std::size_t count = 7 - (d0 >> 1 & 7);
  if (m_data.size() + count > MaxMessage(m_setup.SegmentSize)) return Abort(kAbortLength, "more data than a message holds");
  m_data.insert(m_data.end(), frame.Data + 1, frame.Data + 1 + count);
  m_toggle ^= 0x10;
  const CanFrame answer = Answer({static_cast<std::uint8_t>(0x20 | toggle)});
  if ((d0 & 0x01) == 0) return {answer};
  m_state = EState::Idle;
  if (m_announced && m_data.size() != *m_announced) {
    return Abort(kAbortLength, FormatText("%zu bytes came, %u were announced", m_data.size(), *m_announced));
  }
  return Deliver(answer);
}

std::vector<CanFrame> CSimServoDrive::BlockSegment(const CanFrame& frame) {
  const std::uint8_t sequence = frame.Data[0] & 0x7F;
  const bool last = (frame.Data[0] & 0x80) != 0;
  if (sequence != m_sequence + 1 || sequence > m_setup.BlockSize) {
    return Abort(kAbortSequence, FormatText("block segment %u after %u (block size %u)", sequence, m_sequence,
                                            m_setup.BlockSize));
  }
  if (m_data.size() >= MaxMessage(m_setup.SegmentSize)) return Abort(kAbortLength, "more data than a message holds");
  // Every segment carries 7 bytes; the end frame says how many of the last one's are padding.
  m_data.insert(m_data.end(), frame.Data + 1, frame.Data + 8);
  m_sequence = sequence;
  if (!last && sequence != m_setup.BlockSize) return {};
  const CanFrame acknowledgement = Answer({0xA2, sequence, m_setup.BlockSize});
  m_sequence = 0;
  if (last) m_state = EState::BlockEnd;
  return {acknowledgement};
}

std::vector<CanFrame> CSimServoDrive::BlockEnd(const CanFrame& frame) {
  const std::uint8_t d0 = frame.Data[0];
  if ((d0 & 0xE3) != 0xC1) return Abort(kAbortCommand, FormatText("%02X where the block download's end belongs", d0));
  const std::size_t padding = d0 >> 2 & 7;
  if (padding > 6) return Abort(kAbortLength, "an end frame that leaves the last segment empty");
  m_data.resize(m_data.size() - padding);
  if (m_announced && m_data.size() != *m_announced) {
    return Abort(kAbortLength, FormatText("%zu bytes came, %u were announced", m_data.size(), *m_announced));
  }
  const auto crc = static_cast<std::uint16_t>(SimServoGet(frame.Data, 1, 2));
  const std::uint16_t expected = gci::Crc16(m_data);
  if (crc != expected) return Abort(kAbortCrc, FormatText("CRC %04X, the message's is %04X", crc, expected));
  m_state = EState::Idle;
  return Deliver(ObjectAnswer(0xA1, m_index, m_subindex));
}

std::vector<CanFrame> CSimServoDrive::Deliver(const CanFrame& done) {
  std::optional<std::vector<std::uint8_t>> answer = m_files.Execute(m_data);
  if (!answer) return Abort(kAbortMessage, FormatText("%zu bytes that are no request message", m_data.size()));
  Note(FormatText("drive: request type %u answered with status %u", m_data[gci::kTypeOffset],
                  static_cast<unsigned>(SimServoGet(*answer, gci::kStatusOffset, 2))));
  m_answer = std::move(answer);
  ++m_revision;
  return {done};
}

// ----- code values and the command machine

std::uint32_t CSimServoDrive::WriteCode(int code, int subindex, std::uint32_t value) {
  auto known = m_values.find({code, subindex});
  if (known == m_values.end()) return kAbortNoObject;
  if (m_setup.RefusedWrites.contains({code, subindex})) return kAbortRefused;
  auto* number = std::get_if<CSimServoNumber>(&known->second);
  if (!number) return kAbortLength;
  if (code != kDeviceCommandCode && code != kCommandCode) return kAbortReadOnly;
  number->Value = value;
  ++m_revision;
  if (code == kDeviceCommandCode) {
    DeviceCommand(value);
  } else if (subindex != kProgramSelection) {
    auto result = m_setup.Results.find(static_cast<int>(value));
    auto busy = m_setup.BusyPollsFor.find(static_cast<int>(value));
    m_runningResult = result != m_setup.Results.end() ? result->second : 0;
    m_busyPolls = busy != m_setup.BusyPollsFor.end() ? busy->second : m_setup.BusyPolls;
    m_commands.push_back({subindex, value, m_runningResult});
    m_commandLines.push_back(FormatText("command 514/%d = %u -> %u\n", subindex, value, m_runningResult));
    Note(FormatText("drive: command %d/%d = %u, ends with %u", code, subindex, value, m_runningResult));
    if (value == kFinishDownload && m_runningResult == 0) FinishDownload();
  }
  return 0;
}

std::uint32_t CSimServoDrive::ReadStatus() {
  if (m_busyPolls == 0) return m_runningResult;
  --m_busyPolls;
  return kRunning;
}

void CSimServoDrive::DeviceCommand(std::uint32_t command) {
  m_deviceCommands.push_back(command);
  m_commandLines.push_back(FormatText("device command %u\n", command));
  std::uint32_t& inhibit = std::get<CSimServoNumber>(m_values.at({150, 0})).Value;
  std::uint32_t& application = std::get<CSimServoNumber>(m_values.at({155, 0})).Value;
  switch (command) {
    case kSetInhibit: inhibit |= kControllerInhibit; break;
    case kClearInhibit: inhibit &= ~kControllerInhibit; break;
    case kStopApplication: application &= ~kApplicationRunning; break;
    case kStartApplication: application |= kApplicationRunning; break;
    default: break;
  }
  Note(FormatText("drive: device command %u", command));
}

void CSimServoDrive::FinishDownload() {
  std::optional<std::uint16_t> version = m_setup.ApplicationAfter;
  for (const CSimServoFile& file : m_files.Files()) {
    if (version) break;
    version = FindFirmwareVersionTag(file.Data);
  }
  if (!version) {
    Note("drive: download finished; no application version given, it stays " + FormatVersion(m_applicationVersion));
    return;
  }
  m_applicationVersion = *version;
  Note("drive: download finished; application " + FormatVersion(m_applicationVersion));
}

std::string CSimServoDrive::RecordText() const {
  std::string text = "drive commands\n";
  for (const std::string& line : m_commandLines) text += line;
  text += FormatText("application %u\n", m_applicationVersion);
  text += "drive files\n";
  for (const CSimServoFile& file : m_files.Files()) {
    text += FormatText("file %s %zu ", file.Path.c_str(), file.Data.size()) + SimServoSha256(file.Data) + "\n";
  }
  return text;
}
