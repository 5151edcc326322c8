#include "devices/1z/interface_1z.h"

#include "devices/1z/usb_1z.h"
#include "devices/downloads/region_table_a.h"
#include "devices/downloads/segment_download.h"
#include "updater/device_catalog.h"

namespace {
constexpr std::uint8_t kCommand10 = 0x10;
constexpr std::uint8_t kEnter = 0x01;  // after the identification
constexpr std::uint8_t kLeave = 0x00;  // when the updater finishes
}  // namespace

bool CInterface1Z::Identify() {
  if (!ReadIdentity(kModelCode)) return false;
  m_stream->ClearInput();
  SendCommand10(kEnter);
  return true;
}

void CInterface1Z::Leave() {
  if (!m_stream || !m_stream->IsOpen()) return;
  SendCommand10(kLeave);
  m_stream->Close();
}

void CInterface1Z::SendCommand10(std::uint8_t argument) {
  // After the segment download's reset the transport is closed: there is nobody to tell.
  if (!m_stream || !m_stream->IsOpen()) return;
  const std::uint8_t command[] = {kCommand10, argument};
  m_stream->BeginWriteBuffer();
  m_stream->Write(command, sizeof command);
  m_stream->EndWriteBuffer();
  if (m_stream->ReadByte() != CStreamIO::kAck) {
    m_stream->ClearInput();
    CStreamIO::ThrowStreamException(20016);
  }
}

std::unique_ptr<CStreamIO> CInterface1Z::CreateTransport() { return std::make_unique<CUsb1Z>(); }

bool CUpdater1Z::Connect() { return m_interface.OpenAndIdentify() == CStreamDevice::kConnected; }

std::uint16_t CUpdater1Z::GetFirmwareVersion() {
  return CStreamDevice::ParseVersionAt(m_interface.Identity(), CInterface1Z::kVersionIndex);
}

bool CUpdater1Z::Update(const DeviceRecord& record, IFlashProgress* /*progress*/) {
  CFlashUpdateSeg download(m_interface.Stream());
  return download.UpdateFromFile(record.FirmwarePath, kFlashRegionsA);
}

bool CUpdater1Z::Finish() {
  try {
    m_interface.Leave();
    return true;
  } catch (...) {
    return false;  // whatever its kind: the update is over, Finish only reports
  }
}
