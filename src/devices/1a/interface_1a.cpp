#include "devices/1a/interface_1a.h"

#include "devices/1a/usb_1a.h"
#include "devices/downloads/region_table_a.h"
#include "devices/downloads/segment_download.h"
#include "updater/device_catalog.h"

bool CInterface1A::Identify() {
  if (!ReadIdentity(kModelCode)) return false;
  m_stream->ClearInput();
  return true;
}

std::unique_ptr<CStreamIO> CInterface1A::CreateTransport() { return std::make_unique<CUsb1A>(); }

bool CUpdater1A::Connect() { return m_interface.OpenAndIdentify() == CStreamDevice::kConnected; }

std::uint16_t CUpdater1A::GetFirmwareVersion() {
  return CStreamDevice::ParseVersionAt(m_interface.Identity(), CInterface1A::kVersionIndex);
}

bool CUpdater1A::Update(const DeviceRecord& record, IFlashProgress* /*progress*/) {
  CFlashUpdateSeg download(m_interface.Stream());
  return download.UpdateFromFile(record.FirmwarePath, kFlashRegionsA);
}
