#include "sim/devices/downloads/sim_bootloader.h"

#include <algorithm>

#include "platform/text_format.h"
#include "sim/firmware_version_tag.h"
#include "sim/sim_device_registry.h"
#include "sim/sim_error.h"
#include "sim/sim_options.h"
#include "sim/sim_record_file.h"
#include "updater/updater.h"

namespace {

constexpr std::uint8_t kIdentityCommand = 0x02;
constexpr std::uint8_t kStartDownload = 0x1F;
constexpr std::uint8_t kProgramBlock = 0x04;
constexpr std::uint8_t kEndBlockDownload = 0x10;
constexpr std::uint8_t kBinaryCommand = 0x1D;
constexpr std::uint8_t kBinaryStart = 0x01;
constexpr std::uint8_t kBinaryBlock = 0x02;
constexpr std::uint8_t kEndBinaryDownload = 0x12;

CSimDeviceSetup Defaults(const CSimBootloaderProfile& profile) {
  CSimDeviceSetup setup;
  setup.Address.ProductId = profile.ProductId;
  setup.Address.Generation = profile.Generation;
  if (profile.FriendlyName) setup.FriendlyName = profile.FriendlyName;
  return setup;
}

std::uint32_t BigEndian32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) << 24 | static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

std::uint16_t BigEndian16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

// `size` bytes from `at` as one number, low byte first or high byte first.
std::uint32_t Ordered(const std::vector<std::uint8_t>& bytes, std::size_t at, unsigned size, bool lowByteFirst) {
  std::uint32_t value = 0;
  for (unsigned i = 0; i < size; ++i) {
    value = value << 8 | bytes[at + (lowByteFirst ? size - 1 - i : i)];
  }
  return value;
}

std::string RecordLine(ESimBootDownloadKind kind, const CSimBootItem& item) {
  std::string line;
  if (kind == ESimBootDownloadKind::Segment) {
    line = FormatText("segment 0x%08X 0x%04X %u", item.Address, item.SizeField, item.Kind);
  } else {
    line = FormatText("%s 0x%08X", SimBootDownloadKindName(kind), item.Address);
  }
  if (!item.Data.empty()) {
    line += ' ';
    AppendSimRecordHex(line, item.Data);
  }
  return line + '\n';
}

// The version of the first tag in the download's items taken in address order.
std::optional<std::uint16_t> TaggedVersion(const CSimBootDownload& download) {
  std::vector<const CSimBootItem*> items;
  for (const CSimBootItem& item : download.Items) items.push_back(&item);
  std::stable_sort(items.begin(), items.end(),
                   [](const CSimBootItem* a, const CSimBootItem* b) { return a->Address < b->Address; });
  for (const CSimBootItem* item : items) {
    if (auto version = FindFirmwareVersionTag(item->Data)) return version;
  }
  return std::nullopt;
}

// The data of a segment announced with size 0. The 16-bit size field says 0 both for a full
// 64 KiB segment (whose 65536 bytes follow) and for a segment whose data are all 0xFF (for
// which the host's transport writes one empty transfer and waits for the acknowledgement).
// So the next transfer decides: an empty one means an empty segment, one with data the first
// part of 64 KiB. Only what arrived counts, never how soon, so a slow or loaded host is read
// the same way as a fast one.
std::vector<std::uint8_t> ReadSizeZeroSegment(CSimConnection& io) {
  std::vector<std::uint8_t> data = io.ReadFrame();
  if (data.empty()) {
    io.Device().Transcript().Add(io.Id(), ESimEvent::Note, {},
                                 "segment size 0 and an empty write: an empty segment");
    return data;
  }
  std::vector<std::uint8_t> rest = io.ReadBytes(CSimBootloader::kFullSegment - data.size());
  data.insert(data.end(), rest.begin(), rest.end());
  return data;
}

}  // namespace

const char* SimBootDownloadKindName(ESimBootDownloadKind kind) {
  switch (kind) {
    case ESimBootDownloadKind::Segment:
      return "segment";
    case ESimBootDownloadKind::Block:
      return "block";
    case ESimBootDownloadKind::Binary:
      return "binary";
  }
  return "?";
}

// What one connection has going: the download it runs, if any.
struct CSimBootloader::Session {
  CSimConnection& Io;
  std::optional<std::size_t> Open;  // index into Downloads()
  ESimBootDownloadKind OpenKind = ESimBootDownloadKind::Segment;
};

CSimBootloader::CSimBootloader(CSimOptions& options, const CSimBootloaderProfile& profile)
    : CSimDownloadingDevice(options, Defaults(profile), kDefaultFirmware),
      m_profile(profile),
      m_refuseHeader(options.TakeFlag("refuse_header").value_or(false)) {}

std::string CSimBootloader::Describe() const {
  return "firmware " + FormatVersion(FirmwareVersion());
}

void CSimBootloader::Reenumerate() {
  std::lock_guard lock(StateMutex());
  if (!m_pendingFirmware) return;
  SetFirmwareLocked(*m_pendingFirmware);
  m_pendingFirmware.reset();
  Transcript().Add(0, ESimEvent::Note, {}, "starts with firmware " + FormatVersion(FirmwareLocked()));
}

void CSimBootloader::RunProgram(CSimConnection& io) {
  Session session{io, std::nullopt};
  try {
    while (true) Serve(session, io.ReadByte());
  } catch (...) {
    // The host went, or the device dropped it, in the middle of a download: that one is lost.
    EndIncomplete(session);
    throw;
  }
}

void CSimBootloader::Serve(Session& session, std::uint8_t command) {
  CSimConnection& io = session.Io;
  if (command == kIdentityCommand) {
    io.WriteString(Identity(OwnIdentity(FirmwareVersion())));
  } else if (ServeOwnCommand(io, command)) {
    // the family's own
  } else if (command == kStartDownload && (m_profile.Segments || m_profile.Blocks)) {
    // The segment download's header leaves as one packet, 1F and four bytes; the block
    // download's 0x1F comes alone.
    if (m_profile.Segments && (io.BytesLeftInFrame() > 0 || !m_profile.Blocks)) {
      SegmentDownload(session);
    } else {
      BeginDownload(session, ESimBootDownloadKind::Block);
    }
  } else if (command == kProgramBlock && m_profile.Blocks) {
    ProgramBlock(session);
  } else if (command == kEndBlockDownload && m_profile.Blocks) {
    EndBlockDownload(session);
  } else if (command == kBinaryCommand && m_profile.Binary) {
    BinaryCommand(session);
  } else if (command == kEndBinaryDownload && m_profile.Binary) {
    EndBinaryDownload(session);
  } else {
    io.ReportViolation(FormatText("unknown command %02X dropped", command));
  }
}

void CSimBootloader::SegmentDownload(Session& session) {
  CSimConnection& io = session.Io;
  bool onePacket = io.BytesLeftInFrame() == 4;
  std::vector<std::uint8_t> header = io.ReadBytes(4);
  if (!onePacket || header[0] != 0x01 || header[2] != 0x00 || header[3] != 0x01) {
    io.ReportViolation(FormatText("segment download header 1F %02X %02X %02X %02X%s "
                                  "(expected 1F 01 count 00 01 as one packet)",
                                  header[0], header[1], header[2], header[3],
                                  onePacket ? "" : " not as one packet"));
  }
  unsigned count = header[1];
  BeginDownload(session, ESimBootDownloadKind::Segment);
  if (m_refuseHeader) {
    io.Device().Transcript().Add(io.Id(), ESimEvent::Note, {}, "refuse_header: the header is answered \"?\"");
    EndIncomplete(session);
    io.Refuse();
    return;
  }
  if (!Answer(session, std::nullopt, count == 0)) return;
  for (unsigned i = 0; i < count; ++i) {
    if (!ReceiveSegment(session, i + 1 == count)) return;
  }
}

bool CSimBootloader::ReceiveSegment(Session& session, bool last) {
  CSimConnection& io = session.Io;
  std::vector<std::uint8_t> header = io.ReadPacket(8);
  CSimBootItem item;
  item.Address = BigEndian32(header, 0);
  item.SizeField = BigEndian16(header, 4);
  item.Kind = BigEndian16(header, 6);
  if (!Answer(session, std::nullopt, false)) return false;
  item.Data = item.SizeField != 0 ? io.ReadBytes(item.SizeField) : ReadSizeZeroSegment(io);
  return Answer(session, std::move(item), last);
}

void CSimBootloader::ProgramBlock(Session& session) {
  CSimConnection& io = session.Io;
  OpenDownload(session, ESimBootDownloadKind::Block, "0x1F");
  std::vector<std::uint8_t> header = io.ReadBytes(6);
  CSimBootItem item;
  item.Address = Ordered(header, 0, 4, m_profile.BlockLowByteFirst);
  item.SizeField = static_cast<std::uint16_t>(Ordered(header, 4, 2, m_profile.BlockLowByteFirst));
  if (item.SizeField != kBlockSize) {
    io.ReportViolation(FormatText("block at %08X announced with length %04X (expected 1000)",
                                  item.Address, item.SizeField));
  }
  if (item.Address % kBlockSize != 0 || item.Address >= kBlockImageSize) {
    io.ReportViolation(FormatText("block address %08X is no 4 KiB block of the 1 MiB image", item.Address));
  }
  if (!Answer(session, std::nullopt, false)) return;
  item.Data = io.ReadBytes(item.SizeField);
  Answer(session, std::move(item), false);
}

void CSimBootloader::EndBlockDownload(Session& session) {
  CSimConnection& io = session.Io;
  if (!session.Open || session.OpenKind != ESimBootDownloadKind::Block) {
    io.ReportViolation("10 (end of block download) without a block download: dropped");
    return;
  }
  StopIfStalled(session);
  // Nothing is answered: the host may be gone before this is seen, so the record says it now.
  {
    std::lock_guard lock(StateMutex());
    CompleteLocked(io.Id(), *session.Open);
    WriteRecordLocked();
  }
  session.Open.reset();
  NotifyDownloadEnded();
}

void CSimBootloader::BinaryCommand(Session& session) {
  CSimConnection& io = session.Io;
  std::uint8_t subCommand = io.ReadByte();
  if (subCommand == kBinaryStart) {
    BeginDownload(session, ESimBootDownloadKind::Binary);
    Answer(session, std::nullopt, false);
  } else if (subCommand == kBinaryBlock) {
    BinaryBlock(session);
  } else {
    io.ReportViolation(FormatText("binary download command 1D %02X dropped", subCommand));
  }
}

void CSimBootloader::BinaryBlock(Session& session) {
  CSimConnection& io = session.Io;
  std::size_t index = OpenDownload(session, ESimBootDownloadKind::Binary, "1D 01");
  CSimBootItem item;
  item.Address = BigEndian32(io.ReadBytes(4), 0);
  std::size_t received;
  {
    std::lock_guard lock(StateMutex());
    received = DownloadLocked(index).Items.size();
  }
  std::uint32_t expected = kBinaryBase + static_cast<std::uint32_t>(received * kBlockSize);
  if (item.Address != expected) {
    io.ReportViolation(FormatText("binary block at %08X (expected %08X)", item.Address, expected));
  }
  if (!Answer(session, std::nullopt, false)) return;
  item.Data = io.ReadBytes(kBlockSize);
  Answer(session, std::move(item), false);
}

void CSimBootloader::EndBinaryDownload(Session& session) {
  if (!session.Open || session.OpenKind != ESimBootDownloadKind::Binary) {
    session.Io.ReportViolation("12 (end of binary download) without a binary download: dropped");
    return;
  }
  Answer(session, std::nullopt, true);  // the new version applies before the "!" leaves
}

std::size_t CSimBootloader::OpenDownload(Session& session, ESimBootDownloadKind kind, const char* opening) {
  if (session.Open && session.OpenKind == kind) return *session.Open;
  session.Io.ReportViolation(
      FormatText("%s data without %s: taken as a new download", SimBootDownloadKindName(kind), opening));
  return BeginDownload(session, kind);
}

std::size_t CSimBootloader::BeginDownload(Session& session, ESimBootDownloadKind kind) {
  CSimConnection& io = session.Io;
  if (session.Open) {
    Transcript().Add(io.Id(), ESimEvent::Note, {}, "a new download begins before the last one ended");
    EndIncomplete(session);
  }
  std::size_t index;
  {
    std::lock_guard lock(StateMutex());
    if (kind == ESimBootDownloadKind::Segment) m_pendingFirmware.reset();
    index = BeginDownloadLocked({kind, false, false, {}},
                                std::string("download ") + SimBootDownloadKindName(kind) + '\n');
  }
  Transcript().Add(io.Id(), ESimEvent::Note, {}, std::string(SimBootDownloadKindName(kind)) + " download begins");
  session.Open = index;
  session.OpenKind = kind;
  return index;
}

bool CSimBootloader::Answer(Session& session, std::optional<CSimBootItem> item, bool completes) {
  CSimConnection& io = session.Io;
  StopIfStalled(session);
  std::uint8_t answer = io.NextAcknowledgement();
  bool accepted = answer == CSimFaults::kAcknowledge;
  bool ended = !accepted || completes;
  {
    std::lock_guard lock(StateMutex());
    CSimBootDownload& download = DownloadLocked(*session.Open);
    if (accepted) {
      if (item) {
        RecordLocked(*session.Open, RecordLine(download.Kind, *item));
        download.Items.push_back(std::move(*item));
      }
      if (completes) CompleteLocked(io.Id(), *session.Open);
    } else {
      EndIncompleteLocked(io.Id(), *session.Open);
    }
    WriteRecordLocked();
  }
  if (ended) {
    session.Open.reset();
    NotifyDownloadEnded();
  }
  io.WritePacket(std::span<const std::uint8_t>(&answer, 1));
  return accepted;
}

void CSimBootloader::StopIfStalled(Session& session) {
  if (!session.Io.Stalled()) return;
  // The device has stopped answering: it takes nothing more and waits for the host to go.
  EndIncomplete(session);
  session.Io.DrainUntilClosed();
  throw CSimDisconnected();
}

void CSimBootloader::EndIncomplete(Session& session) {
  if (!session.Open) return;
  {
    std::lock_guard lock(StateMutex());
    EndIncompleteLocked(session.Io.Id(), *session.Open);
    WriteRecordLocked();
  }
  session.Open.reset();
  NotifyDownloadEnded();
}

void CSimBootloader::CompleteLocked(std::uint32_t connection, std::size_t index) {
  const CSimBootDownload& download = DownloadLocked(index);
  std::string what = FormatText("%s download complete, %zu item(s): ", SimBootDownloadKindName(download.Kind),
                                download.Items.size());
  std::optional<std::uint16_t> version = TaggedVersion(download);
  if (!version || download.Kind != ESimBootDownloadKind::Segment) {
    EndDownloadLocked(connection, index, true, what, version);
    return;
  }
  // The bootloader starts the new firmware when the host resets the device.
  MarkEndedLocked(index, true);
  m_pendingFirmware = version;
  Transcript().Add(connection, ESimEvent::Note, {},
                   what + "firmware " + FormatVersion(*version) + " from the next start");
}

void CSimBootloader::EndIncompleteLocked(std::uint32_t connection, std::size_t index) {
  const CSimBootDownload& download = DownloadLocked(index);
  EndDownloadLocked(connection, index, false,
                    FormatText("%s download incomplete after %zu item(s): ", SimBootDownloadKindName(download.Kind),
                               download.Items.size()),
                    std::nullopt);
}
