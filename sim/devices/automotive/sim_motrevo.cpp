#include "sim/devices/automotive/sim_motrevo.h"

#include <algorithm>
#include <map>

#include "platform/text_format.h"
#include "sim/devices/automotive/s_record.h"
#include "sim/firmware_version_tag.h"
#include "sim/sim_device_registry.h"
#include "sim/sim_error.h"
#include "sim/sim_options.h"
#include "updater/updater.h"

namespace {

RegisterSimDevice<CSimMotrevo> g_registration(
    "motrevo", "automotive trainer (ZRxxxx-xx order number, S-record loader): firmware=N, no_loader, record=FILE");

constexpr std::uint8_t kIdentifyCommand = 0x0B;
constexpr std::uint8_t kLoaderCommand = 0x32;
// The board and loader numbers of the order number (BBB, CCC).
constexpr unsigned kBoard = 15;
constexpr unsigned kLoader = 3;

CSimDeviceSetup Defaults() {
  CSimDeviceSetup setup;
  setup.Address.ProductId = CSimMotrevo::kProductId;
  setup.Address.Generation = ESimGeneration::Second;
  setup.FriendlyName = CSimMotrevo::kFriendlyName;
  return setup;
}

bool IsEndRecord(char type) { return type == '7' || type == '8' || type == '9'; }

// The version of the first tag in the data records, laid out in address order.
std::optional<std::uint16_t> TaggedVersion(const std::vector<std::string>& lines) {
  std::map<std::uint32_t, std::vector<std::uint8_t>> data;
  for (const std::string& line : lines) {
    std::optional<CSRecord> record = ParseSRecord(line);
    if (record && record->Type >= '1' && record->Type <= '3') data[record->Address] = record->Data;
  }
  std::vector<std::uint8_t> image;
  for (const auto& [address, bytes] : data) image.insert(image.end(), bytes.begin(), bytes.end());
  return FindFirmwareVersionTag(image);
}

}  // namespace

CSimMotrevo::CSimMotrevo(CSimOptions& options)
    : CSimDownloadingDevice(options, Defaults(), kDefaultFirmware),
      m_noLoader(options.TakeFlag("no_loader").value_or(false)) {}

bool CSimMotrevo::InLoader() const {
  std::lock_guard lock(StateMutex());
  return m_inLoader;
}

std::string CSimMotrevo::Describe() const {
  std::string firmware = "firmware " + FormatVersion(FirmwareVersion());
  return InLoader() ? "loader, " + firmware : firmware;
}

std::string CSimMotrevo::IdentityText() const {
  return Identity(FormatText("ZRxxxx-xx.%03u.%03u.%03u", FirmwareVersion(), kBoard, kLoader));
}

void CSimMotrevo::RunProgram(CSimConnection& io) {
  bool inLoader = false;
  {
    std::unique_lock lock(StateMutex());
    // The host closes the connection that carried 0x32 before it opens the next one, but
    // that connection's thread may not have read the 0x32 yet: the trainer is not there again
    // before its restart, so a new connection waits for the firmware's program to end.
    m_firmwareEnded.wait_for(lock, std::chrono::seconds(5), [this] { return m_firmwarePrograms == 0; });
    if (m_gone) {
      Transcript().Add(io.Id(), ESimEvent::Note, {}, "no_loader: the trainer did not come back, the connection is dropped");
      throw CSimDisconnected();
    }
    inLoader = m_inLoader;
    if (!inLoader) ++m_firmwarePrograms;
  }
  if (!inLoader) {
    struct Ended {
      CSimMotrevo& Device;
      ~Ended() {
        std::lock_guard lock(Device.StateMutex());
        --Device.m_firmwarePrograms;
        Device.m_firmwareEnded.notify_all();
      }
    } ended{*this};
    return RunFirmware(io);
  }
  std::optional<std::size_t> open;
  try {
    RunLoader(io, open);
  } catch (...) {
    if (open) EndDownload(*open, false);  // the host went in the middle of the text
    throw;
  }
}

void CSimMotrevo::RunFirmware(CSimConnection& io) {
  for (;;) {
    std::uint8_t command = io.ReadByte();
    if (command == kIdentifyCommand) {
      io.WriteString(IdentityText());
    } else if (command == kLoaderCommand) {
      std::lock_guard lock(StateMutex());
      m_inLoader = !m_noLoader;
      m_gone = m_noLoader;
      Transcript().Add(io.Id(), ESimEvent::Note, {},
                       m_noLoader ? "0x32: restarts and does not come back" : "0x32: restarts into its loader");
      return;  // it restarts: nothing more on this connection
    } else {
      io.ReportViolation(FormatText("firmware command %02X dropped", command));
    }
  }
}

void CSimMotrevo::RunLoader(CSimConnection& io, std::optional<std::size_t>& open) {
  for (;;) {
    std::vector<std::uint8_t> frame = io.ReadFrame();
    if (!open && frame == std::vector<std::uint8_t>{kIdentifyCommand}) {
      io.WriteString(IdentityText());
      continue;
    }
    if (!open) {
      std::lock_guard lock(StateMutex());
      open = BeginDownloadLocked({}, "download lines\n");
    }
    if (!AnswerLine(io, *open, ReadLine(io, std::move(frame)))) {
      open.reset();
      return;
    }
  }
}

std::string CSimMotrevo::ReadLine(CSimConnection& io, std::vector<std::uint8_t> frame) {
  std::string line(frame.begin(), frame.end());
  // A long line comes in several transfers: the record's count says where it ends.
  std::optional<std::size_t> length = SRecordLength(line);
  if (length && *length > line.size()) {
    std::vector<std::uint8_t> rest = io.ReadBytes(*length - line.size());
    line.append(rest.begin(), rest.end());
  }
  return line;
}

bool CSimMotrevo::AnswerLine(CSimConnection& io, std::size_t index, const std::string& line) {
  std::optional<CSRecord> record;
  if (!line.empty()) record = ParseSRecord(line);
  bool wellFormed = line.empty() || record.has_value();
  bool ends = record && IsEndRecord(record->Type);
  // The fault plan may refuse any answer that would have taken the line.
  bool taken = wellFormed && io.NextAcknowledgement() == CSimFaults::kAcknowledge;
  std::uint8_t answer = !taken ? kRefused : ends ? kDone : kLineTaken;
  {
    std::lock_guard lock(StateMutex());
    RecordLocked(index, "line " + line + "\n");
    DownloadLocked(index).Lines.push_back(line);
    WriteRecordLocked();
  }
  if (!wellFormed) io.ReportViolation("not an S-record: " + line.substr(0, 80));
  if (!taken || ends) EndDownload(index, taken);
  io.WriteBytes({answer});
  return taken && !ends;
}

void CSimMotrevo::EndDownload(std::size_t index, bool complete) {
  {
    std::lock_guard lock(StateMutex());
    if (DownloadLocked(index).Ended) return;
    MarkEndedLocked(index, complete);
    if (complete) {
      // The new firmware starts at once.
      m_inLoader = false;
      if (std::optional<std::uint16_t> version = TaggedVersion(DownloadLocked(index).Lines)) {
        SetFirmwareLocked(*version);
        Transcript().Add(0, ESimEvent::Note, {}, "starts with firmware " + FormatVersion(*version));
      } else {
        Transcript().Add(0, ESimEvent::Note, {}, "no version tag in the firmware: the version stays");
      }
    }
    WriteRecordLocked();
  }
  NotifyDownloadEnded();
}
