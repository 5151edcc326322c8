#include "sim/devices/atmu/sim_atmu.h"

#include <algorithm>
#include <limits>

#include "devices/downloads/page_download.h"
#include "platform/text_format.h"
#include "sim/firmware_version_tag.h"
#include "sim/sim_device_registry.h"
#include "sim/sim_error.h"
#include "sim/sim_options.h"
#include "sim/sim_record_file.h"
#include "updater/updater.h"

namespace {

RegisterSimDevice<CSimATMU> g_registration(
    "atmu",
    "ATMU device, page-wise bootloader: model=TEXT, firmware=N, page_code=N, busy_page=N, busy_times=K, "
    "record=FILE");

constexpr std::uint8_t kIdentityCommand = 0x02;
constexpr std::uint8_t kProgramCommand = 0x1E;
constexpr std::uint8_t kDeviceInfoCommand = 0x3C;
constexpr std::uint16_t kRestartPage = 0xFFFF;

std::string TakeModel(CSimOptions& options) {
  std::string model = options.TakeText("model").value_or(CSimATMU::kDefaultModel);
  if (model.empty()) throw CSimError("option model= needs a text");
  return model;
}

CSimDeviceSetup Defaults(const std::string& model) {
  CSimDeviceSetup setup;
  setup.Address.ProductId = CSimATMU::kProductId;
  setup.Address.Generation = ESimGeneration::Second;
  // What the host's transport calls it: "Tavrix <Id> <Name>" of the catalog entry.
  setup.FriendlyName = "Tavrix " + model + " ATMU device";
  return setup;
}

std::string PageLine(const CSimAtmuPage& page) {
  std::string line = FormatText("page 0x%04X ", page.Number);
  AppendSimRecordHex(line, page.Data);
  return line + '\n';
}

// The version of the first tag in the flash the pages make up, in address order: the tag may
// straddle two pages.
std::optional<std::uint16_t> TaggedVersion(const CSimAtmuDownload& download) {
  std::vector<const CSimAtmuPage*> pages;
  for (const CSimAtmuPage& page : download.Pages) pages.push_back(&page);
  std::stable_sort(pages.begin(), pages.end(),
                   [](const CSimAtmuPage* a, const CSimAtmuPage* b) { return a->Number < b->Number; });
  std::vector<std::uint8_t> flash;
  for (const CSimAtmuPage* page : pages) flash.insert(flash.end(), page->Data.begin(), page->Data.end());
  return FindFirmwareVersionTag(flash);
}

}  // namespace

// What one connection has going: whether 1E came, and the download it runs, if any.
struct CSimATMU::Session {
  CSimConnection& Io;
  bool Programming = false;
  std::optional<std::size_t> Open;  // index into Downloads()
  std::uint16_t NextPage = 0;
};

CSimATMU::CSimATMU(CSimOptions& options)
    : CSimATMU(options, TakeModel(options)) {}

CSimATMU::CSimATMU(CSimOptions& options, std::string model)
    : CSimDownloadingDevice(options, Defaults(model), kDefaultFirmware),
      m_model(std::move(model)),
      m_pageCode(static_cast<std::uint8_t>(options.TakeNumber("page_code", 0xFF).value_or(kDefaultPageCode))),
      m_busyPage(options.TakeNumber("busy_page", 0xFFFE)),
      m_busyTimes(options.TakeNumber("busy_times", std::numeric_limits<std::uint64_t>::max())
                      .value_or(std::numeric_limits<std::uint64_t>::max())) {}

std::string CSimATMU::Describe() const {
  std::optional<std::uint16_t> pageSize = PageSizeFromCode(m_pageCode);
  return m_model + ", firmware " + FormatVersion(FirmwareVersion()) +
         (pageSize ? FormatText(", pages of %u bytes", *pageSize) : FormatText(", page size code %02X", m_pageCode));
}

void CSimATMU::RunProgram(CSimConnection& io) {
  Session session{io};
  try {
    while (true) Serve(session, io.ReadByte());
  } catch (...) {
    // The host went, or the device dropped it, in the middle of a download: that one is lost.
    EndIncomplete(session);
    throw;
  }
}

void CSimATMU::Serve(Session& session, std::uint8_t command) {
  CSimConnection& io = session.Io;
  switch (command) {
    case kIdentityCommand:
      io.WriteString(Identity(m_model + " " + std::to_string(FirmwareVersion())));
      break;
    case kProgramCommand:
      session.Programming = true;
      Transcript().Add(io.Id(), ESimEvent::Note, {}, "1E: programming follows");
      break;
    case kDeviceInfoCommand:
      DeviceInformation(session);
      break;
    default:
      io.ReportViolation(FormatText("unknown command %02X dropped", command));
      break;
  }
}

void CSimATMU::DeviceInformation(Session& session) {
  CSimConnection& io = session.Io;
  if (!session.Programming) io.ReportViolation("3C (device information) without 1E before it");
  io.WriteBytes({0x00, 0x00, 0x00, m_pageCode, CSimFaults::kAcknowledge});
  std::optional<std::uint16_t> pageSize = PageSizeFromCode(m_pageCode);
  if (!pageSize) return;  // a device that names no page size takes no pages
  TakePages(session, *pageSize);
  session.Programming = false;
}

void CSimATMU::TakePages(Session& session, std::uint16_t pageSize) {
  CSimConnection& io = session.Io;
  session.NextPage = 0;
  while (true) {
    std::vector<std::uint8_t> number = io.ReadBytes(2);
    CSimAtmuPage page;
    page.Number = static_cast<std::uint16_t>(number[0] << 8 | number[1]);
    if (page.Number == kRestartPage) {
      Restart(session);
      return;
    }
    if (!session.Open) BeginDownload(session, pageSize);
    page.Data = io.ReadBytes(pageSize);
    std::uint8_t checksum = io.ReadByte();
    if (!AnswerPage(session, std::move(page), checksum)) return;
  }
}

bool CSimATMU::AnswerPage(Session& session, CSimAtmuPage page, std::uint8_t checksum) {
  CSimConnection& io = session.Io;
  StopIfStalled(session);
  const std::uint32_t pageSize = static_cast<std::uint32_t>(page.Data.size());
  if ((std::uint32_t{page.Number} + 1) * pageSize > kFlashSize) {
    io.ReportViolation(FormatText("page %u lies beyond the 128 KiB flash: refused", page.Number));
    EndIncomplete(session);
    io.Refuse();
    return false;
  }
  if (page.Number != session.NextPage) {
    io.ReportViolation(FormatText("page %u where page %u was due", page.Number, session.NextPage));
  }
  if (checksum != PageChecksum(page.Data)) {
    Transcript().Add(io.Id(), ESimEvent::Note, {},
                     FormatText("page %u: checksum %02X, the bytes sum to %02X: try again", page.Number, checksum,
                                PageChecksum(page.Data)));
    io.WriteBytes({kTryAgain});
    return true;
  }
  bool busy = false;
  {
    std::lock_guard lock(StateMutex());
    busy = m_busyPage == page.Number && m_busyAnswers < m_busyTimes;
    if (busy) ++m_busyAnswers;
  }
  if (busy) {
    Transcript().Add(io.Id(), ESimEvent::Note, {}, FormatText("busy_page: page %u answered \"E\"", page.Number));
    io.WriteBytes({kTryAgain});
    return true;
  }
  std::uint8_t answer = io.NextAcknowledgement();
  bool accepted = answer == CSimFaults::kAcknowledge;
  {
    std::lock_guard lock(StateMutex());
    if (accepted) {
      session.NextPage = static_cast<std::uint16_t>(page.Number + 1);
      RecordLocked(*session.Open, PageLine(page));
      DownloadLocked(*session.Open).Pages.push_back(std::move(page));
    } else {
      EndLocked(io.Id(), *session.Open, false);
    }
    WriteRecordLocked();
  }
  if (!accepted) {
    session.Open.reset();
    NotifyDownloadEnded();
  }
  io.WriteBytes({answer});
  return accepted;
}

void CSimATMU::Restart(Session& session) {
  CSimConnection& io = session.Io;
  if (!session.Open) {
    Transcript().Add(io.Id(), ESimEvent::Note, {}, "restart without a page: the firmware stays");
    return;
  }
  {
    std::lock_guard lock(StateMutex());
    EndLocked(io.Id(), *session.Open, true);
    WriteRecordLocked();
  }
  session.Open.reset();
  NotifyDownloadEnded();
}

std::size_t CSimATMU::BeginDownload(Session& session, std::uint16_t pageSize) {
  std::size_t index;
  {
    std::lock_guard lock(StateMutex());
    index = BeginDownloadLocked({pageSize, false, false, {}}, FormatText("download pages %u\n", pageSize));
  }
  Transcript().Add(session.Io.Id(), ESimEvent::Note, {}, FormatText("page download begins, %u bytes a page", pageSize));
  session.Open = index;
  return index;
}

void CSimATMU::StopIfStalled(Session& session) {
  if (!session.Io.Stalled()) return;
  // The device has stopped answering: it takes nothing more and waits for the host to go.
  EndIncomplete(session);
  session.Io.DrainUntilClosed();
  throw CSimDisconnected();
}

void CSimATMU::EndIncomplete(Session& session) {
  if (!session.Open) return;
  {
    std::lock_guard lock(StateMutex());
    EndLocked(session.Io.Id(), *session.Open, false);
    WriteRecordLocked();
  }
  session.Open.reset();
  NotifyDownloadEnded();
}

void CSimATMU::EndLocked(std::uint32_t connection, std::size_t index, bool complete) {
  const CSimAtmuDownload& download = DownloadLocked(index);
  std::string what = FormatText("page download %s after %zu page(s): ", complete ? "complete" : "incomplete",
                                download.Pages.size());
  // The bootloader starts the new firmware as it restarts.
  EndDownloadLocked(connection, index, complete, what, complete ? TaggedVersion(download) : std::nullopt);
}
