#include "sim/devices/2a/sim_2a.h"

#include <algorithm>

#include "platform/text_format.h"
#include "sim/firmware_version_tag.h"
#include "sim/sim_device_registry.h"
#include "sim/sim_error.h"
#include "sim/sim_options.h"
#include "sim/sim_record_file.h"
#include "updater/updater.h"

namespace {

RegisterSimDevice<CSim2A> g_registration(
    "2a",
    "2A interface bootloader (ZR6618-7D): variant=1|2|3|?, firmware=N, refuse_header, "
    "record=FILE");

constexpr std::uint8_t kIdentityCommand = 0x02;
constexpr std::uint8_t kVariantCommand = 0x0B;
constexpr std::uint8_t kStartDownload = 0x1F;
constexpr std::uint8_t kProgramBlock = 0x04;
constexpr std::uint8_t kEndBlockDownload = 0x10;
constexpr std::uint8_t kBinaryCommand = 0x1D;
constexpr std::uint8_t kBinaryStart = 0x01;
constexpr std::uint8_t kBinaryBlock = 0x02;
constexpr std::uint8_t kEndBinaryDownload = 0x12;

CSimDeviceSetup Defaults() {
  CSimDeviceSetup setup;
  setup.Address.ProductId = CSim2A::kProductId;
  setup.Address.Generation = ESimGeneration::First;
  setup.FriendlyName = CSim2A::kFriendlyName;
  return setup;
}

std::uint8_t TakeVariant(CSimOptions& options) {
  std::optional<std::string> text = options.TakeText("variant");
  if (!text) return 1;
  if (*text == "?") return CSim2A::kUnknownVariant;
  if (*text == "1" || *text == "2" || *text == "3") return static_cast<std::uint8_t>((*text)[0] - '0');
  throw CSimError("option variant=" + *text + ": expected 1, 2, 3 or ?");
}

std::optional<std::filesystem::path> TakeRecordPath(CSimOptions& options) {
  std::optional<std::string> text = options.TakeText("record");
  if (!text) return std::nullopt;
  if (text->empty()) throw CSimError("option record= needs a file name");
  return std::filesystem::path(*text);
}

std::uint32_t BigEndian32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) << 24 | static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

std::uint16_t BigEndian16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

void AppendHex(std::string& text, const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::size_t at = text.size();
  text.resize(at + 2 * bytes.size());
  for (std::uint8_t byte : bytes) {
    text[at++] = kDigits[byte >> 4];
    text[at++] = kDigits[byte & 0x0F];
  }
}

std::string RecordLine(ESim2ADownloadKind kind, const CSim2AItem& item) {
  std::string line;
  if (kind == ESim2ADownloadKind::Segment) {
    line = FormatText("segment 0x%08X 0x%04X %u", item.Address, item.SizeField, item.Kind);
  } else {
    line = FormatText("%s 0x%08X", Sim2ADownloadKindName(kind), item.Address);
  }
  if (!item.Data.empty()) {
    line += ' ';
    AppendHex(line, item.Data);
  }
  return line + '\n';
}

// The version of the first tag in the download's items taken in address order.
std::optional<std::uint16_t> TaggedVersion(const CSim2ADownload& download) {
  std::vector<const CSim2AItem*> items;
  for (const CSim2AItem& item : download.Items) items.push_back(&item);
  std::stable_sort(items.begin(), items.end(),
                   [](const CSim2AItem* a, const CSim2AItem* b) { return a->Address < b->Address; });
  for (const CSim2AItem* item : items) {
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
  std::vector<std::uint8_t> rest = io.ReadBytes(CSim2A::kFullSegment - data.size());
  data.insert(data.end(), rest.begin(), rest.end());
  return data;
}

}  // namespace

const char* Sim2ADownloadKindName(ESim2ADownloadKind kind) {
  switch (kind) {
    case ESim2ADownloadKind::Segment:
      return "segment";
    case ESim2ADownloadKind::Block:
      return "block";
    case ESim2ADownloadKind::Binary:
      return "binary";
  }
  return "?";
}

// What one connection has going: the download it runs, if any.
struct CSim2A::Session {
  CSimConnection& Io;
  std::optional<std::size_t> Open;  // index into m_downloads
  ESim2ADownloadKind OpenKind = ESim2ADownloadKind::Segment;
};

CSim2A::CSim2A(CSimOptions& options)
    : CSimDevice(options.TakeSetup(Defaults())),
      m_variant(TakeVariant(options)),
      m_recordPath(TakeRecordPath(options)),
      m_refuseHeader(options.TakeFlag("refuse_header").value_or(false)),
      m_firmware(static_cast<std::uint16_t>(options.TakeNumber("firmware", 0xFFFF).value_or(kDefaultFirmware))) {
  if (!m_recordPath) return;
  std::lock_guard lock(StateMutex());
  WriteRecordLocked();  // an empty record: nothing received yet
  if (m_recordFailed) throw CSimError("cannot write the record file " + m_recordPath->string());
}

std::uint16_t CSim2A::FirmwareVersion() const {
  std::lock_guard lock(StateMutex());
  return m_firmware;
}

std::vector<CSim2ADownload> CSim2A::Downloads() const {
  std::lock_guard lock(StateMutex());
  return m_downloads;
}

bool CSim2A::WaitForEndedDownloads(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(StateMutex());
  return m_downloadEnded.wait_for(lock, timeout, [&] {
    return std::count_if(m_downloads.begin(), m_downloads.end(),
                         [](const CSim2ADownload& download) { return download.Ended; }) >=
           static_cast<std::ptrdiff_t>(count);
  });
}

std::string CSim2A::Describe() const {
  std::string variant = m_variant == kUnknownVariant ? "?" : std::to_string(m_variant);
  return "variant " + variant + ", firmware " + FormatVersion(FirmwareVersion());
}

void CSim2A::Reenumerate() {
  std::lock_guard lock(StateMutex());
  if (!m_pendingFirmware) return;
  m_firmware = *m_pendingFirmware;
  m_pendingFirmware.reset();
  Transcript().Add(0, ESimEvent::Note, {}, "starts with firmware " + FormatVersion(m_firmware));
}

void CSim2A::RunProgram(CSimConnection& io) {
  Session session{io, std::nullopt};
  try {
    while (true) Serve(session, io.ReadByte());
  } catch (...) {
    // The host went, or the device dropped it, in the middle of a download: that one is lost.
    EndIncomplete(session);
    throw;
  }
}

void CSim2A::Serve(Session& session, std::uint8_t command) {
  CSimConnection& io = session.Io;
  switch (command) {
    case kIdentityCommand:
      io.WriteString(Identity(kIdentityPrefix + std::to_string(FirmwareVersion())));
      break;
    case kVariantCommand:
      io.WriteBytes({m_variant});
      break;
    case kStartDownload:
      // The segment download's header leaves as one packet, 1F and four bytes; the block
      // download's 0x1F comes alone.
      if (io.BytesLeftInFrame() > 0) {
        SegmentDownload(session);
      } else {
        BeginDownload(session, ESim2ADownloadKind::Block);
      }
      break;
    case kProgramBlock:
      ProgramBlock(session);
      break;
    case kEndBlockDownload:
      EndBlockDownload(session);
      break;
    case kBinaryCommand:
      BinaryCommand(session);
      break;
    case kEndBinaryDownload:
      EndBinaryDownload(session);
      break;
    default:
      io.ReportViolation(FormatText("unknown command %02X dropped", command));
      break;
  }
}

void CSim2A::SegmentDownload(Session& session) {
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
  BeginDownload(session, ESim2ADownloadKind::Segment);
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

bool CSim2A::ReceiveSegment(Session& session, bool last) {
  CSimConnection& io = session.Io;
  std::vector<std::uint8_t> header = io.ReadPacket(8);
  CSim2AItem item;
  item.Address = BigEndian32(header, 0);
  item.SizeField = BigEndian16(header, 4);
  item.Kind = BigEndian16(header, 6);
  if (!Answer(session, std::nullopt, false)) return false;
  item.Data = item.SizeField != 0 ? io.ReadBytes(item.SizeField) : ReadSizeZeroSegment(io);
  return Answer(session, std::move(item), last);
}

void CSim2A::ProgramBlock(Session& session) {
  CSimConnection& io = session.Io;
  OpenDownload(session, ESim2ADownloadKind::Block, "0x1F");
  std::vector<std::uint8_t> header = io.ReadBytes(6);
  CSim2AItem item;
  item.Address = BigEndian32(header, 0);
  item.SizeField = BigEndian16(header, 4);
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

void CSim2A::EndBlockDownload(Session& session) {
  CSimConnection& io = session.Io;
  if (!session.Open || session.OpenKind != ESim2ADownloadKind::Block) {
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
  m_downloadEnded.notify_all();
}

void CSim2A::BinaryCommand(Session& session) {
  CSimConnection& io = session.Io;
  std::uint8_t subCommand = io.ReadByte();
  if (subCommand == kBinaryStart) {
    BeginDownload(session, ESim2ADownloadKind::Binary);
    Answer(session, std::nullopt, false);
  } else if (subCommand == kBinaryBlock) {
    BinaryBlock(session);
  } else {
    io.ReportViolation(FormatText("binary download command 1D %02X dropped", subCommand));
  }
}

void CSim2A::BinaryBlock(Session& session) {
  CSimConnection& io = session.Io;
  std::size_t index = OpenDownload(session, ESim2ADownloadKind::Binary, "1D 01");
  CSim2AItem item;
  item.Address = BigEndian32(io.ReadBytes(4), 0);
  std::size_t received;
  {
    std::lock_guard lock(StateMutex());
    received = m_downloads[index].Items.size();
  }
  std::uint32_t expected = kBinaryBase + static_cast<std::uint32_t>(received * kBlockSize);
  if (item.Address != expected) {
    io.ReportViolation(FormatText("binary block at %08X (expected %08X)", item.Address, expected));
  }
  if (!Answer(session, std::nullopt, false)) return;
  item.Data = io.ReadBytes(kBlockSize);
  Answer(session, std::move(item), false);
}

void CSim2A::EndBinaryDownload(Session& session) {
  if (!session.Open || session.OpenKind != ESim2ADownloadKind::Binary) {
    session.Io.ReportViolation("12 (end of binary download) without a binary download: dropped");
    return;
  }
  Answer(session, std::nullopt, true);  // the new version applies before the "!" leaves
}

std::size_t CSim2A::OpenDownload(Session& session, ESim2ADownloadKind kind, const char* opening) {
  if (session.Open && session.OpenKind == kind) return *session.Open;
  session.Io.ReportViolation(
      FormatText("%s data without %s: taken as a new download", Sim2ADownloadKindName(kind), opening));
  return BeginDownload(session, kind);
}

std::size_t CSim2A::BeginDownload(Session& session, ESim2ADownloadKind kind) {
  CSimConnection& io = session.Io;
  if (session.Open) {
    Transcript().Add(io.Id(), ESimEvent::Note, {}, "a new download begins before the last one ended");
    EndIncomplete(session);
  }
  std::size_t index;
  {
    std::lock_guard lock(StateMutex());
    if (kind == ESim2ADownloadKind::Segment) m_pendingFirmware.reset();
    index = m_downloads.size();
    m_downloads.push_back({kind, false, false, {}});
    m_recordTexts.push_back(std::string("download ") + Sim2ADownloadKindName(kind) + '\n');
    WriteRecordLocked();
  }
  Transcript().Add(io.Id(), ESimEvent::Note, {}, std::string(Sim2ADownloadKindName(kind)) + " download begins");
  session.Open = index;
  session.OpenKind = kind;
  return index;
}

bool CSim2A::Answer(Session& session, std::optional<CSim2AItem> item, bool completes) {
  CSimConnection& io = session.Io;
  StopIfStalled(session);
  std::uint8_t answer = io.NextAcknowledgement();
  bool accepted = answer == CSimFaults::kAcknowledge;
  bool ended = !accepted || completes;
  {
    std::lock_guard lock(StateMutex());
    CSim2ADownload& download = m_downloads[*session.Open];
    if (accepted) {
      if (item) {
        m_recordTexts[*session.Open] += RecordLine(download.Kind, *item);
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
    m_downloadEnded.notify_all();
  }
  io.WritePacket(std::span<const std::uint8_t>(&answer, 1));
  return accepted;
}

void CSim2A::StopIfStalled(Session& session) {
  if (!session.Io.Stalled()) return;
  // The device has stopped answering: it takes nothing more and waits for the host to go.
  EndIncomplete(session);
  session.Io.DrainUntilClosed();
  throw CSimDisconnected();
}

void CSim2A::EndIncomplete(Session& session) {
  if (!session.Open) return;
  {
    std::lock_guard lock(StateMutex());
    EndIncompleteLocked(session.Io.Id(), *session.Open);
    WriteRecordLocked();
  }
  session.Open.reset();
  m_downloadEnded.notify_all();
}

void CSim2A::CompleteLocked(std::uint32_t connection, std::size_t index) {
  CSim2ADownload& download = m_downloads[index];
  download.Ended = true;
  download.Complete = true;
  m_recordTexts[index] += "end complete\n";
  std::string what = FormatText("%s download complete, %zu item(s): ", Sim2ADownloadKindName(download.Kind),
                                download.Items.size());
  std::optional<std::uint16_t> version = TaggedVersion(download);
  if (!version) {
    Transcript().Add(connection, ESimEvent::Note, {},
                     what + "no version tag, the firmware stays " + FormatVersion(m_firmware));
  } else if (download.Kind == ESim2ADownloadKind::Segment) {
    // The bootloader starts the new firmware when the host resets the device.
    m_pendingFirmware = version;
    Transcript().Add(connection, ESimEvent::Note, {},
                     what + "firmware " + FormatVersion(*version) + " from the next start");
  } else {
    m_firmware = *version;
    Transcript().Add(connection, ESimEvent::Note, {}, what + "firmware now " + FormatVersion(*version));
  }
}

void CSim2A::EndIncompleteLocked(std::uint32_t connection, std::size_t index) {
  CSim2ADownload& download = m_downloads[index];
  download.Ended = true;
  m_recordTexts[index] += "end incomplete\n";
  Transcript().Add(connection, ESimEvent::Note, {},
                   FormatText("%s download incomplete after %zu item(s): the firmware stays ",
                              Sim2ADownloadKindName(download.Kind), download.Items.size()) +
                       FormatVersion(m_firmware));
}

void CSim2A::WriteRecordLocked() {
  if (!m_recordPath) return;
  std::string text;
  for (const std::string& part : m_recordTexts) text += part;
  if (ReplaceFileContent(*m_recordPath, text)) return;
  if (!m_recordFailed) {
    Transcript().Add(0, ESimEvent::Note, {}, "cannot write the record file " + m_recordPath->string());
  }
  m_recordFailed = true;
}
