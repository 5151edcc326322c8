#include "devices/mk/interface_mk.h"

#include "devices/downloads/block_download.h"
#include "transport/catalog_named_usb.h"

namespace {
// The block header low byte first; the bootloader is ready 1 s after the start command.
constexpr CHexBlockFormat kHexBlockFormatMK{1000, true};
}  // namespace

bool CInterfaceMK::Identify() {
  // The comparison is bounded to nine characters; the message names the whole Id.
  if (!ReadIdentity(m_entry.Id, m_entry.Id)) return false;
  m_stream->ClearInput();
  return true;
}

bool CInterfaceMK::ProgramHexBlocks(const std::string& path) {
  return ::ProgramHexBlocks(*m_stream, path, kHexBlockFormatMK);
}

std::unique_ptr<CStreamIO> CInterfaceMK::CreateTransport() { return std::make_unique<CCatalogNamedUsb>(m_entry); }

bool CUpdaterMK::Connect() { return m_interface.OpenAndIdentify() == CStreamDevice::kConnected; }

std::uint16_t CUpdaterMK::GetFirmwareVersion() {
  return CStreamDevice::ParseVersionAt(m_interface.Identity(), CInterfaceMK::kVersionIndex);
}

bool CUpdaterMK::Update(const DeviceRecord& record, IFlashProgress* /*progress*/) {
  return m_interface.ProgramHexBlocks(record.FirmwarePath);
}
