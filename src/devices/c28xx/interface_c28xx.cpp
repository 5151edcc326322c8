#include "devices/c28xx/interface_c28xx.h"

#include <QString>

#include "devices/downloads/c28xx_program.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"

namespace {

constexpr std::uint8_t kIdentityCommand[] = {0x00, 0x02};

std::string ToUtf8(const std::u16string& text) { return QString::fromStdU16String(text).toStdString(); }

// The first `count` characters of each, compared as a bounded text comparison does: a text
// shorter than `count` matches only a text equal to it in full.
bool EqualOver(const std::u16string& a, const std::u16string& b, std::size_t count) {
  return a.substr(0, count) == b.substr(0, count);
}

}  // namespace

bool CInterfaceC28XX::Identify() {
  m_stream->ClearInput();
  m_wideIdentity.clear();
  m_identity.clear();
  m_stream->Write(kIdentityCommand, sizeof kIdentityCommand);
  ReadWideIdentity();
  m_identity = ToUtf8(m_wideIdentity);
  const std::u16string id = QString::fromStdString(m_entry.Id).toStdU16String();
  if (EqualOver(m_wideIdentity, id, kModelCodeLength)) {
    m_stream->ClearInput();
    return true;
  }
  if (!m_wideIdentity.empty()) {
    UserInterface().MessageBox(FormatMessage(LoadResString(20007), {m_identity, m_entry.Id}), MB_OK);
  }
  return false;
}

void CInterfaceC28XX::ReadWideIdentity() {
  for (std::uint16_t unit = m_stream->ReadWord(); unit != 0; unit = m_stream->ReadWord()) {
    // A device that never ends its identity is broken; it must not fill the memory.
    if (m_wideIdentity.size() == CStreamIO::kMaxStringLength) {
      CStreamIO::ThrowStreamException(CStreamException::kDefaultMessageId);
    }
    m_wideIdentity += static_cast<char16_t>(unit);
  }
}

std::uint16_t CInterfaceC28XX::FirmwareVersion() const {
  // One character per code unit, so the version stays at its index whatever comes before it;
  // a character outside ASCII is no digit.
  std::string narrow;
  for (char16_t unit : m_wideIdentity) narrow += unit < 0x80 ? static_cast<char>(unit) : '?';
  return ParseVersionAt(narrow, kVersionIndex);
}

std::unique_ptr<CStreamIO> CInterfaceC28XX::CreateTransport() { return std::make_unique<CUpdaterUsb2>(m_entry); }

bool CUpdaterC28XX::Connect() { return m_interface.OpenAndIdentify() == CStreamDevice::kConnected; }

bool CUpdaterC28XX::Update(const DeviceRecord& record, IFlashProgress* /*progress*/) {
  if (m_interface.Stream() == nullptr) return false;
  CFlashUpdateC28XX download(m_interface.Stream());
  return download.ProgramFile(record.FirmwarePath, false);
}
