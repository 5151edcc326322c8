#include "devices/atmu/interface_atmu.h"

#include <algorithm>

#include "devices/atmu/my_usb2.h"
#include "devices/downloads/page_download.h"
#include "platform/ascii_text.h"
#include "platform/clock.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"

std::string SignedDeviceTextToUtf8(const std::string& text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
      continue;
    }
    const unsigned character = 0xFF00u | byte;  // sign-extended to 16 bits
    utf8 += static_cast<char>(0xE0 | (character >> 12));
    utf8 += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
    utf8 += static_cast<char>(0x80 | (character & 0x3F));
  }
  return utf8;
}

bool CInterfaceATMU::Identify() {
  // The bootloader answers only what it is asked: nothing is waiting to be discarded.
  m_stream->WriteByte(kIdentifyCommand);
  m_identity = m_stream->ReadString();
  const std::string identity = SignedDeviceTextToUtf8(m_identity);
  if (EqualOverUtf8Characters(identity, m_entry.Id, kModelCodeLength)) return true;
  if (identity.empty()) return false;
  UserInterface().MessageBox(FormatMessage(LoadResString(20007), {identity, m_entry.Id}), MB_OK);
  return false;
}

std::unique_ptr<CStreamIO> CInterfaceATMU::CreateTransport() { return std::make_unique<CMyUsb2>(m_entry); }

bool CUpdaterATMU::Connect() { return m_interface.OpenAndIdentify() == CStreamDevice::kConnected; }

std::uint16_t CUpdaterATMU::GetFirmwareVersion() {
  return CStreamDevice::ParseVersionAt(m_interface.Identity(), CInterfaceATMU::kVersionIndex);
}

bool CUpdaterATMU::Update(const DeviceRecord& record, IFlashProgress* progress) {
  CStreamIO* stream = m_interface.Stream();
  if (stream == nullptr) return false;  // never connected
  CFlashUpdateAtmel programming(*stream, progress);
  if (!programming.LoadHexFile(record.FirmwarePath)) return false;
  stream->WriteByte(kProgramCommand);
  Clock().Sleep(kProgramPause);
  return programming.ProgramPages();
}
