#include "devices/interface_2a.h"

#include <optional>

#include "devices/flash_update_seg.h"
#include "devices/hex_block_download.h"
#include "image/binary_image.h"
#include "transport/usb_device_classes.h"
#include "updater/device_catalog.h"
#include "updater/updater_registry.h"
#include "wizard/anim_wait.h"

namespace {

constexpr std::uint8_t kVariantCommand = 0x0B;
constexpr std::uint8_t kBinaryCommand = 0x1D;
constexpr std::uint8_t kBinaryStart = 0x01;
constexpr std::uint8_t kBinaryBlock = 0x02;
constexpr std::uint8_t kBinaryEnd = 0x12;

const RegisterUpdater<CUpdater2A1> g_register2A1("CUpdater2A1");
const RegisterUpdater<CUpdater2A2> g_register2A2("CUpdater2A2");
const RegisterUpdater<CUpdater2A3> g_register2A3("CUpdater2A3");
const RegisterUpdater<CUpdater2AB> g_register2AB("CUpdater2AB");

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
  if (m_reportedVariant != 3) return false;
  std::optional<CAnimWait> animation(std::in_place);
  CImageFile file;
  if (!file.Open(path)) return false;
  // The whole file is read first: a read error must not leave half an image in the flash.
  CBinaryImage image;
  if (!image.Load(file)) {
    animation.reset();
    ShowImageRefusal(image.LastError());
    return false;
  }
  const std::uint8_t start[] = {kBinaryCommand, kBinaryStart};
  m_stream->Write(start, sizeof start);
  m_stream->ExpectAck();
  for (std::size_t block = 0; block < image.BlockCount(); ++block) {
    const std::uint32_t address = image.BlockAddress(block);
    animation->SetText("Writing %d Bytes at 0x%8X", static_cast<int>(image.BlockLength(block)), address);
    const std::uint8_t command[] = {kBinaryCommand, kBinaryBlock};
    m_stream->Write(command, sizeof command);
    m_stream->WriteDWord(address);
    m_stream->ExpectAck();
    m_stream->Write(image.Block(block).data(), static_cast<unsigned>(image.Block(block).size()));
    m_stream->ExpectAck();
  }
  m_stream->WriteByte(kBinaryEnd);
  m_stream->ExpectAck();
  return true;
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
