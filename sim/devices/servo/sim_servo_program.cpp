// The ZP2290-8E control unit's firmware download: the C28xx program download with single-byte
// commands (the frames at the top of sim_servo.h). The new firmware runs as soon as the end
// command comes, with the version of the first tag in the segments taken in address order.

#include <algorithm>

#include "platform/text_format.h"
#include "sim/devices/servo/sim_servo.h"
#include "sim/firmware_version_tag.h"

namespace {

constexpr std::uint8_t kStartCommand = 0x1E;
constexpr std::uint8_t kProgramCommand = 0x1F;
constexpr std::uint8_t kEndCommand = 0x21;
constexpr std::uint8_t kSegmentTaken = 0x21;

std::uint32_t BigEndian(const std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value = value << 8 | bytes[at + i];
  return value;
}

std::optional<std::uint16_t> TaggedVersion(std::vector<CSimBootItem> items) {
  std::stable_sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return a.Address < b.Address; });
  for (const CSimBootItem& item : items) {
    if (auto version = FindFirmwareVersionTag(item.Data)) return version;
  }
  return std::nullopt;
}

}  // namespace

bool CSimServo::ServeProgramCommand(CSimConnection& io, std::uint8_t command) {
  switch (command) {
    case kStartCommand:
      StartProgram(io);
      return true;
    case kProgramCommand:
      ProgramHeader(io);
      return true;
    case kEndCommand:
      EndProgram(io);
      return true;
    default:
      return false;
  }
}

void CSimServo::StartProgram(CSimConnection& io) {
  EndProgramIncomplete(io);  // one begun before and never ended
  std::lock_guard lock(StateMutex());
  m_program = BeginDownloadLocked({ESimBootDownloadKind::Segment, false, false, {}}, "download program\n");
  Transcript().Add(io.Id(), ESimEvent::Note, {}, "program download begins");
}

void CSimServo::ProgramHeader(CSimConnection& io) {
  const bool onePacket = io.BytesLeftInFrame() == 4;
  const std::vector<std::uint8_t> header = io.ReadBytes(4);
  if (!onePacket || header[0] != 0x00 || header[1] != 0x01) {
    io.ReportViolation(FormatText("program header 1F %02X %02X %02X %02X%s (expected 1F 00 01 count as one packet)",
                                  header[0], header[1], header[2], header[3], onePacket ? "" : " not as one packet"));
  }
  bool started;
  {
    std::lock_guard lock(StateMutex());
    started = m_program.has_value();
  }
  if (!started) {
    io.ReportViolation("program header without 1E: taken as a new download");
    StartProgram(io);
  }
  if (!ProgramAnswer(io, {0x00, 0x00}, std::nullopt)) return;
  const auto count = static_cast<std::uint16_t>(BigEndian(header, 2, 2));
  for (std::uint16_t i = 0; i < count; ++i) {
    if (!ProgramSegment(io)) return;
  }
}

bool CSimServo::ProgramSegment(CSimConnection& io) {
  const std::vector<std::uint8_t> header = io.ReadPacket(8);
  CSimBootItem item;
  item.Address = BigEndian(header, 0, 4);
  item.SizeField = static_cast<std::uint16_t>(BigEndian(header, 4, 2));
  item.Kind = static_cast<std::uint16_t>(BigEndian(header, 6, 2));
  if (!ProgramAnswer(io, {kSegmentTaken}, std::nullopt)) return false;
  if (item.SizeField == 0) {
    // A segment of erased words only: the host's data write is one empty transfer.
    if (!io.ReadFrame().empty()) io.ReportViolation("data for a segment of no words");
  } else {
    item.Data = io.ReadBytes(2 * std::size_t{item.SizeField});
  }
  return ProgramAnswer(io, {0x00, 0x00}, std::move(item));
}

void CSimServo::EndProgram(CSimConnection& io) {
  {
    std::lock_guard lock(StateMutex());
    if (m_program) {
      // Nothing is answered: the host may be gone before this is seen, so the record says it now.
      const std::vector<CSimBootItem> items = DownloadLocked(*m_program).Items;
      EndDownloadLocked(io.Id(), *m_program, true,
                        FormatText("program download complete, %zu segment(s): ", items.size()), TaggedVersion(items));
      WriteRecordLocked();
      m_program.reset();
    }
  }
  NotifyDownloadEnded();
}

void CSimServo::EndProgramIncomplete(CSimConnection& io) {
  {
    std::lock_guard lock(StateMutex());
    if (!m_program) return;
    EndDownloadLocked(io.Id(), *m_program, false,
                      FormatText("program download incomplete after %zu segment(s): ",
                                 DownloadLocked(*m_program).Items.size()),
                      std::nullopt);
    WriteRecordLocked();
    m_program.reset();
  }
  NotifyDownloadEnded();
}

bool CSimServo::ProgramAnswer(CSimConnection& io, std::vector<std::uint8_t> accepted, std::optional<CSimBootItem> item) {
  if (io.Stalled()) {
    // The device has stopped answering: it takes nothing more and waits for the host to go.
    EndProgramIncomplete(io);
    io.DrainUntilClosed();
    throw CSimDisconnected();
  }
  const std::uint8_t answer = io.NextAcknowledgement();
  const bool refused = answer != CSimFaults::kAcknowledge;
  if (refused) {
    accepted.back() = answer;  // "?", or the garbage of a garbled acknowledgement
    EndProgramIncomplete(io);
  } else if (item) {
    std::lock_guard lock(StateMutex());
    std::string line = FormatText("segment 0x%08X 0x%04X %u", item->Address, item->SizeField, item->Kind);
    if (!item->Data.empty()) line += ' ';
    AppendSimRecordHex(line, item->Data);
    RecordLocked(*m_program, line + '\n');
    DownloadLocked(*m_program).Items.push_back(std::move(*item));
    WriteRecordLocked();
  }
  io.WritePacket(accepted);
  return !refused;
}
