#include "devices/atmu/interface_atmu.h"

#include <algorithm>

#include "devices/atmu/my_usb2.h"
#include "devices/downloads/page_download.h"
#include "platform/clock.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"

namespace {

// The bytes of the UTF-8 character that begins at `text[at]` (1 for a stray byte).
std::size_t Utf8CharacterLength(const std::string& text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  return std::min(length, text.size() - at);
}

// Whether two UTF-8 texts agree in their first `count` characters, the way a bounded
// comparison of wide strings does: a text that ends within them matches only a text that
// ends at the same place.
bool EqualOverCharacters(const std::string& a, const std::string& b, std::size_t count) {
  std::size_t i = 0;
  std::size_t j = 0;
  for (std::size_t character = 0; character < count; ++character) {
    if (i == a.size() || j == b.size()) return i == a.size() && j == b.size();
    std::size_t lengthA = Utf8CharacterLength(a, i);
    std::size_t lengthB = Utf8CharacterLength(b, j);
    if (a.compare(i, lengthA, b, j, lengthB) != 0) return false;
    i += lengthA;
    j += lengthB;
  }
  return true;
}

}  // namespace

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
  if (EqualOverCharacters(identity, m_entry.Id, kModelCodeLength)) return true;
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
