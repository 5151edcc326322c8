#include "sim/devices/c28xx/sim_c28xx.h"

#include <QString>

#include <algorithm>

#include "devices/c28xx/flash_regions_c28xx.h"
#include "platform/text_format.h"
#include "sim/firmware_version_tag.h"
#include "sim/sim_device_registry.h"
#include "sim/sim_error.h"
#include "sim/sim_options.h"
#include "updater/updater.h"

namespace {

RegisterSimDevice<CSimC28xx> g_registration(
    "c28xx", "C28xx DSP unit bootloader (answers to a catalog Id): id=TEXT, firmware=N, record=FILE");

constexpr std::uint8_t kIdentityCommand = 0x02;
constexpr std::uint8_t kStartCommand = 0x1E;
constexpr std::uint8_t kProgramCommand = 0x1F;
constexpr std::uint8_t kEndCommand = 0x21;
constexpr std::uint16_t kStatusGood = 0x0000;
constexpr std::uint16_t kSegmentAcknowledgement = 0x0021;

std::string TakeId(CSimOptions& options) {
  std::string id = options.TakeText("id").value_or(CSimC28xx::kDefaultId);
  if (id.empty()) throw CSimError("option id= needs the catalog Id the device answers to");
  return id;
}

CSimDeviceSetup Defaults(const std::string& id) {
  CSimDeviceSetup setup;
  setup.Address.ProductId = CSimC28xx::kProductId;
  setup.Address.Generation = ESimGeneration::Second;
  // The transport looks for the catalog entry's "Tavrix <Id> <Name>".
  setup.FriendlyName = "Tavrix " + id + " " + CSimC28xx::kDefaultName;
  return setup;
}

std::uint32_t BigEndian(const std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value = value << 8 | bytes[at + i];
  return value;
}

// The record line of a segment taken: its header and its data bytes as sent.
std::string SegmentLine(const CSimC28xxSegment& segment) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string line = FormatText("segment 0x%08X 0x%04X %u", segment.Start, segment.Words, segment.Kind);
  if (!segment.Data.empty()) line += ' ';
  for (std::uint8_t byte : segment.Data) {
    line += kDigits[byte >> 4];
    line += kDigits[byte & 0x0F];
  }
  return line + '\n';
}

// The version of the first tag in the segments taken in address order.
std::optional<std::uint16_t> TaggedVersion(const CSimC28xxDownload& download) {
  std::vector<const CSimC28xxSegment*> segments;
  for (const CSimC28xxSegment& segment : download.Segments) segments.push_back(&segment);
  std::stable_sort(segments.begin(), segments.end(),
                   [](const auto* a, const auto* b) { return a->Start < b->Start; });
  for (const CSimC28xxSegment* segment : segments) {
    if (auto version = FindFirmwareVersionTag(segment->Data)) return version;
  }
  return std::nullopt;
}

// What is wrong with a segment header by the C28xx flash map; empty when nothing is.
std::string CheckSegmentHeader(const CSimC28xxSegment& segment) {
  const FlashRegionTable table(kFlashRegionsC28xx);
  for (std::size_t i = 0; i + 1 < table.size(); ++i) {
    if (table[i].Start != segment.Start) continue;
    if (table[i].Kind != segment.Kind || segment.Kind == FLASH_REGION_NOT_SENT) {
      return FormatText("segment at %06X with kind %u (the region's kind is %u)", segment.Start, segment.Kind,
                        table[i].Kind);
    }
    if (segment.Words > table[i + 1].Start - table[i].Start) {
      return FormatText("segment at %06X with %u words, more than its region holds", segment.Start, segment.Words);
    }
    return {};
  }
  return FormatText("segment at %06X, which is no region start", segment.Start);
}

}  // namespace

// What one connection has going: the download it runs, if any.
struct CSimC28xx::Session {
  CSimConnection& Io;
  std::optional<std::size_t> Open;  // index into Downloads()
  bool Started = false;             // 00 1E came
  bool HeaderTaken = false;         // the program header was answered with status 0
};

CSimC28xx::CSimC28xx(CSimOptions& options) : CSimC28xx(options, TakeId(options)) {}

CSimC28xx::CSimC28xx(CSimOptions& options, std::string id)
    : CSimDownloadingDevice(options, Defaults(id), kDefaultFirmware), m_id(std::move(id)) {}

std::string CSimC28xx::Describe() const { return m_id + ", firmware " + FormatVersion(FirmwareVersion()); }

void CSimC28xx::RunProgram(CSimConnection& io) {
  Session session{io, std::nullopt};
  try {
    while (true) {
      std::uint8_t first = io.ReadByte();
      if (first != 0x00) {
        io.ReportViolation(FormatText("single-byte command %02X dropped: this device takes 00 and the command", first));
        continue;
      }
      Serve(session, io.ReadByte());
    }
  } catch (...) {
    // The host went, or the device dropped it, in the middle of a download: that one is lost.
    if (session.Open) EndDownload(session, false);
    throw;
  }
}

void CSimC28xx::Serve(Session& session, std::uint8_t command) {
  CSimConnection& io = session.Io;
  switch (command) {
    case kIdentityCommand:
      SendIdentity(io);
      break;
    case kStartCommand:
      BeginDownload(session);
      session.Started = true;
      break;
    case kProgramCommand:
      ProgramHeader(session);
      break;
    case kEndCommand:
      EndCommand(session);
      break;
    default:
      io.ReportViolation(FormatText("unknown command 00 %02X dropped", command));
      break;
  }
}

void CSimC28xx::SendIdentity(CSimConnection& io) {
  std::string own = m_id.substr(0, 9) + " " + std::to_string(FirmwareVersion());
  std::u16string units = QString::fromStdString(Identity(own)).toStdU16String();
  std::vector<std::uint8_t> bytes;
  for (char16_t unit : units) {
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    bytes.push_back(static_cast<std::uint8_t>(unit));
  }
  bytes.insert(bytes.end(), {0x00, 0x00});
  io.WriteBytes(bytes);
}

void CSimC28xx::ProgramHeader(Session& session) {
  CSimConnection& io = session.Io;
  bool onePacket = io.BytesLeftInFrame() == 4;
  std::vector<std::uint8_t> header = io.ReadBytes(4);
  if (!onePacket || header[0] != 0x00 || header[1] != 0x01) {
    io.ReportViolation(FormatText("program header 00 1F %02X %02X %02X %02X%s (expected 00 1F 00 01 count as one packet)",
                                  header[0], header[1], header[2], header[3], onePacket ? "" : " not as one packet"));
  }
  if (!session.Started) {
    io.ReportViolation("program header without 00 1E: taken as a new download");
    BeginDownload(session);
  }
  session.Started = false;
  const auto count = static_cast<std::uint16_t>(BigEndian(header, 2, 2));
  {
    std::lock_guard lock(StateMutex());
    DownloadLocked(*session.Open).Announced = count;
  }
  if (!Answer(session, kStatusGood, std::nullopt)) return;
  session.HeaderTaken = true;
  for (std::uint16_t i = 0; i < count; ++i) {
    if (!ReceiveSegment(session)) return;
  }
}

bool CSimC28xx::ReceiveSegment(Session& session) {
  CSimConnection& io = session.Io;
  std::vector<std::uint8_t> header = io.ReadFrame();
  if (header == std::vector<std::uint8_t>{0x00, kEndCommand}) {
    io.ReportViolation("00 21 (end) before every announced segment came");
    EndDownload(session, false);
    return false;
  }
  if (header.size() != 8) {
    io.ReportViolation(FormatText("segment header of %zu bytes (expected 8 as one packet)", header.size()));
  }
  if (header.size() < 8) {
    std::vector<std::uint8_t> rest = io.ReadBytes(8 - header.size());
    header.insert(header.end(), rest.begin(), rest.end());
  }
  CSimC28xxSegment segment;
  segment.Start = BigEndian(header, 0, 4);
  segment.Words = static_cast<std::uint16_t>(BigEndian(header, 4, 2));
  segment.Kind = static_cast<std::uint16_t>(BigEndian(header, 6, 2));
  if (std::string problem = CheckSegmentHeader(segment); !problem.empty()) io.ReportViolation(problem);
  if (!Answer(session, kSegmentAcknowledgement, std::nullopt)) return false;
  // Bytes that came with the header belong to the data.
  segment.Data.assign(header.begin() + 8, header.end());
  const std::size_t size = 2 * std::size_t{segment.Words};
  if (size == 0 && header.size() == 8) {
    // A segment of erased words only: the host's empty data write is one empty transfer.
    if (!io.ReadFrame().empty()) io.ReportViolation("data for a segment of no words");
  } else if (segment.Data.size() < size) {
    std::vector<std::uint8_t> rest = io.ReadBytes(size - segment.Data.size());
    segment.Data.insert(segment.Data.end(), rest.begin(), rest.end());
  }
  return Answer(session, kStatusGood, std::move(segment));
}

void CSimC28xx::EndCommand(Session& session) {
  CSimConnection& io = session.Io;
  if (!session.Open) {
    io.ReportViolation("00 21 (end) without a program download: dropped");
    return;
  }
  // The segments came in the header's loop; here the download is whole once its header came.
  if (!session.HeaderTaken) io.ReportViolation("00 21 (end) without a program header");
  // Nothing is answered: the host may be gone before this is seen, so the record says it now.
  EndDownload(session, session.HeaderTaken);
}

std::size_t CSimC28xx::BeginDownload(Session& session) {
  CSimConnection& io = session.Io;
  if (session.Open) {
    Transcript().Add(io.Id(), ESimEvent::Note, {}, "a new download begins before the last one ended");
    EndDownload(session, false);
  }
  std::size_t index;
  {
    std::lock_guard lock(StateMutex());
    index = BeginDownloadLocked({}, "download program\n");
  }
  Transcript().Add(io.Id(), ESimEvent::Note, {}, "program download begins");
  session.Open = index;
  return index;
}

bool CSimC28xx::Answer(Session& session, std::uint16_t accepted, std::optional<CSimC28xxSegment> segment) {
  CSimConnection& io = session.Io;
  StopIfStalled(session);
  const bool refused = io.NextAcknowledgement() != CSimFaults::kAcknowledge;
  const std::uint16_t answer = refused ? CSimFaults::kRefuse : accepted;
  if (refused) {
    EndDownload(session, false);
  } else if (segment) {
    std::lock_guard lock(StateMutex());
    RecordLocked(*session.Open, SegmentLine(*segment));
    DownloadLocked(*session.Open).Segments.push_back(std::move(*segment));
    WriteRecordLocked();
  }
  const std::uint8_t bytes[] = {static_cast<std::uint8_t>(answer >> 8), static_cast<std::uint8_t>(answer)};
  io.WritePacket(bytes);
  return !refused;
}

void CSimC28xx::EndDownload(Session& session, bool complete) {
  const std::uint32_t connection = session.Io.Id();
  {
    std::lock_guard lock(StateMutex());
    MarkEndedLocked(*session.Open, complete);
    const CSimC28xxDownload& download = DownloadLocked(*session.Open);
    std::string what = FormatText("program download %s, %zu segment(s): ", complete ? "complete" : "incomplete",
                                  download.Segments.size());
    std::optional<std::uint16_t> version = complete ? TaggedVersion(download) : std::nullopt;
    // The bootloader starts the new firmware by itself. A complete download without a tag is
    // noted like any other that leaves the firmware as it was.
    if (version) SetFirmwareLocked(*version);
    Transcript().Add(connection, ESimEvent::Note, {}, what + SimFirmwareNote(FirmwareLocked(), version.has_value(), false));
    WriteRecordLocked();
  }
  session.Open.reset();
  session.Started = false;
  session.HeaderTaken = false;
  NotifyDownloadEnded();
}

void CSimC28xx::StopIfStalled(Session& session) {
  if (!session.Io.Stalled()) return;
  // The device has stopped answering: it takes nothing more and waits for the host to go.
  if (session.Open) EndDownload(session, false);
  session.Io.DrainUntilClosed();
  throw CSimDisconnected();
}
