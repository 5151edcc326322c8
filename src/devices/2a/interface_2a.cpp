#include "devices/2a/interface_2a.h"

#include "devices/2a/flash_regions_2a.h"
#include "devices/2a/quadrel_usb.h"
#include "devices/downloads/binary_download.h"
#include "devices/downloads/block_download.h"
#include "devices/downloads/region_table_a.h"
#include "devices/downloads/segment_download.h"
#include "updater/device_catalog.h"

namespace {

constexpr std::uint8_t kVariantCommand = 0x0B;
// The block header high byte first; the bootloader needs 2 s after the start command.
constexpr CHexBlockFormat kHexBlockFormat2A{2000, false};

}  // namespace

bool CInterface2A::Identify() {
  if (!ReadIdentity(kModelCode)) return false;
  m_stream->WriteByte(kVariantCommand);
  m_reportedVariant = m_stream->ReadByte();
  if (m_reportedVariant == CStreamIO::kRefusal) m_reportedVariant = 1;  // early devices do not know
  m_stream->ClearInput();
  return m_reportedVariant == m_expectedVariant;
}

std::unique_ptr<CStreamIO> CInterface2A::CreateTransport() { return std::make_unique<CQuadrelUsb>(); }

bool CInterface2A::ProgramHexBlocks(const std::string& path) {
  return ::ProgramHexBlocks(*m_stream, path, kHexBlockFormat2A);
}

bool CInterface2A::ProgramBinary(const std::string& path) {
  return m_reportedVariant == 3 && ProgramBinaryBlocks(*m_stream, path);
}

bool CUpdater2A::Connect() { return m_interface.OpenAndIdentify() == CStreamDevice::kConnected; }

std::uint16_t CUpdater2A::GetFirmwareVersion() {
  return CStreamDevice::ParseVersionAt(m_interface.Identity(), CInterface2A::kVersionIndex);
}

bool CUpdater2A::Update(const DeviceRecord& record, IFlashProgress* /*progress*/) {
  const std::string& path = record.FirmwarePath;
  const std::uint8_t variant = m_interface.ReportedVariant();
  if (m_binaryDownload) return variant == 3 && m_interface.ProgramBinary(path);
  if (variant == 3) return m_interface.ProgramHexBlocks(path);
  CFlashUpdateSeg download(m_interface.Stream());
  return download.UpdateFromFile(path, variant == 2 ? FlashRegionTable(kFlashRegionsB) : FlashRegionTable(kFlashRegionsA));
}
