#include "devices/downloads/page_download.h"

#include <algorithm>
#include <climits>

#include "image/hex_file_reader.h"
#include "platform/clock.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"
#include "transport/stream_io.h"
#include "updater/flash_progress.h"
#include "updater/stop_request.h"

namespace {

constexpr std::uint8_t kFirstPageSizeCode = 0x51;
constexpr std::uint8_t kLastPageSizeCode = 0x5B;
constexpr std::uint16_t kSmallestPageSize = 32;
constexpr std::size_t kDeviceInfoLength = 5;

}  // namespace

std::optional<std::uint16_t> PageSizeFromCode(std::uint8_t code) {
  if (code < kFirstPageSizeCode || code > kLastPageSizeCode) return std::nullopt;
  return static_cast<std::uint16_t>(kSmallestPageSize << (code - kFirstPageSizeCode));
}

CFlashUpdateAtmel::CFlashUpdateAtmel(CStreamIO& stream, IFlashProgress* progress)
    : m_stream(stream), m_progress(progress) {}

void CFlashUpdateAtmel::Status(const std::string& text) {
  if (m_progress != nullptr) m_progress->SetStatusText("%s", text.c_str());
}

bool CFlashUpdateAtmel::Transact(const std::uint8_t* request, std::uint16_t requestLength, std::uint8_t* answer,
                                 std::uint16_t answerLength) {
  try {
    if (requestLength > 0) m_stream.Write(request, requestLength);
    if (answerLength > 0) m_stream.Read(answer, answerLength);
  } catch (const CStreamException& error) {
    m_linkFailure = error;
    return false;
  }
  return true;
}

void CFlashUpdateAtmel::ReportLinkFailure() const {
  if (m_linkFailure) m_linkFailure->ReportError(MB_ICONERROR);
}

bool CFlashUpdateAtmel::LoadHexFile(const std::string& path) {
  CIntelHexFileReader reader;
  if (!reader.OpenFile(path)) return false;
  return LoadHex(reader);
}

bool CFlashUpdateAtmel::LoadHex(CIntelHexFileReader& reader) {
  Status("Loading data.");
  if (CImageLoadError error = m_image.Load(reader); error.IsSet()) {
    // Half an image must never reach the flash: refuse it before the device hears anything.
    ShowImageRefusal(error);
    return false;
  }
  // The bar is shown once the image is loaded; programming counts it in pages.
  if (m_progress != nullptr) {
    m_progress->SetRange(0, static_cast<std::uint16_t>(m_image.HighestAddress() - m_image.LowestAddress()));
  }
  return true;
}

bool CFlashUpdateAtmel::GetDeviceInfo() {
  std::uint8_t answer[kDeviceInfoLength] = {};
  if (!Transact(&kDeviceInfoCommand, 1, answer, kDeviceInfoLength)) return false;
  if (answer[4] != CStreamIO::kAck) return false;
  // Only the codes of real page sizes: any other would give a page size of 0 and pages
  // without end.
  std::optional<std::uint16_t> pageSize = PageSizeFromCode(answer[3]);
  if (!pageSize) return false;
  m_pageSize = *pageSize;
  return true;
}

bool CFlashUpdateAtmel::ProgramPages() {
  if (!GetDeviceInfo()) {
    ReportLinkFailure();
    UserInterface().MessageBox("GetDeviceInfo() failed.", MB_OK);
    Status("");
    return false;
  }
  m_pageNumber = 0;
  // The pages the loop below writes: the bar moves by one for each, whatever the image's size.
  const auto pages = static_cast<std::uint16_t>(std::min<std::uint32_t>(m_image.HighestAddress() / m_pageSize + 1, UINT16_MAX));
  if (m_progress != nullptr) m_progress->SetRange(0, pages);
  do {
    StopIfRequested();
    Status(FormatText("Writing page %d", m_pageNumber));
    if (!WritePageTries()) {
      // A failed link tells its own message; a device that refused the page is told too.
      if (m_linkFailure) {
        ReportLinkFailure();
      } else {
        CStreamException(CStreamIO::kNotAcceptedMessage).ReportError(MB_ICONERROR);
      }
      Status("");
      return false;  // the device is not restarted into half a firmware
    }
    ++m_pageNumber;
    if (m_progress != nullptr) m_progress->SetPos(m_pageNumber);
  } while (std::uint32_t{m_pageNumber} * m_pageSize <= m_image.HighestAddress());

  Status("Rebooting device.");
  const std::uint8_t restart[] = {kRestartPage >> 8, kRestartPage & 0xFF};
  // A device may leave the bus as it restarts, before the transfer is confirmed: every page
  // is written by now, so a failed restart frame does not fail the programming.
  Transact(restart, sizeof restart, nullptr, 0);
  Clock().Sleep(kRestartPause);
  Status("");
  return true;
}

bool CFlashUpdateAtmel::WritePageTries() {
  for (int tries = 0; tries < kTriesPerPage; ++tries) {
    std::uint8_t answer = WritePage();
    if (answer == CStreamIO::kAck) return true;
    if (answer == CStreamIO::kRefusal) return false;
  }
  return false;
}

std::uint8_t CFlashUpdateAtmel::WritePage() {
  Status(FormatText("Writing page %2d at 0%04X\n", m_pageNumber, std::uint32_t{m_pageNumber} * m_pageSize));
  const std::uint8_t number[] = {static_cast<std::uint8_t>(m_pageNumber >> 8),
                                 static_cast<std::uint8_t>(m_pageNumber & 0xFF)};
  if (!Transact(number, sizeof number, nullptr, 0)) return CStreamIO::kRefusal;
  std::span<const std::uint8_t> page = m_image.Page(m_pageNumber, m_pageSize);
  if (!Transact(page.data(), m_pageSize, nullptr, 0)) return CStreamIO::kRefusal;
  const std::uint8_t checksum = PageChecksum(page);
  std::uint8_t answer = 0;
  if (!Transact(&checksum, 1, &answer, 1)) return CStreamIO::kRefusal;
  return answer;
}
