#include "devices/automotive/motrevo.h"

#include <cstring>
#include <optional>

#include "devices/automotive/motrevo_text_file.h"
#include "devices/automotive/motrevo_usb.h"
#include "platform/anim_wait.h"
#include "platform/clock.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"
#include "updater/device_catalog.h"
#include "updater/stop_request.h"

namespace {

constexpr int kLoadingText = 30501;       // "Loading data.."
constexpr int kTransmittingText = 30502;  // "Transmitting data"

}  // namespace

bool CMotrevo::Identify() {
  m_stream->ClearInput();
  m_identity.clear();
  m_stream->WriteByte(kIdentifyCommand);
  m_identity = m_stream->ReadString();
  if (std::strncmp(m_identity.c_str(), kIdentityTemplate, kModelCodeLength) == 0) {
    m_stream->ClearInput();
    return true;
  }
  if (m_identity.empty()) return false;
  UserInterface().MessageBox(
      FormatMessage(LoadResString(20007), {MotrevoTextToUtf8(m_identity), kIdentityTemplate}), MB_OK);
  return false;
}

std::unique_ptr<CStreamIO> CMotrevo::CreateTransport() { return std::make_unique<CMyUsb>(); }

bool CUpdaterMotrevo::Connect() { return m_device.OpenAndIdentify() == CStreamDevice::kConnected; }

std::uint16_t CUpdaterMotrevo::GetFirmwareVersion() {
  return CStreamDevice::ParseVersionAt(m_device.Identity(), CMotrevo::kVersionIndex);
}

bool CUpdaterMotrevo::Update(const DeviceRecord& record, IFlashProgress* /*progress*/) {
  std::optional<CAnimWait> animation(std::in_place);
  animation->SetText(kLoadingText);
  try {
    CImageFile opened;
    if (!opened.OpenFile(record.FirmwarePath)) return false;
    // Read whole before the trainer is touched: a file that cannot be read sends nothing.
    CMotrevoTextFile file;
    if (!file.Load(opened)) {
      animation.reset();
      ShowImageRefusal(file.LastError());
      return false;
    }
    if (m_device.Stream() == nullptr) CStreamIO::ThrowStreamException(kReconnectFailed);  // never connected
    m_device.Stream()->WriteByte(CMotrevo::kLoaderCommand);
    Clock().Sleep(kRestartWait);
    m_device.DropTransport();
    if (m_device.OpenAndIdentify() != CStreamDevice::kConnected) CStreamIO::ThrowStreamException(kReconnectFailed);
    animation->SetText(kTransmittingText);
    return SendLines(file);
  } catch (const CStreamException& error) {
    animation.reset();
    error.ReportError();
    return false;
  }
}

bool CUpdaterMotrevo::SendLines(const CMotrevoTextFile& file) {
  CStreamIO& stream = *m_device.Stream();
  for (std::size_t i = 0; i < file.LineCount(); ++i) {
    StopIfRequested();
    std::span<const std::uint8_t> line = file.Line(i);
    stream.Write(line.data(), static_cast<unsigned>(line.size()));
    std::uint8_t answer = stream.ReadByte();
    if (answer == CMotrevo::kDone) return true;  // the rest of the file is not sent
    if (answer == CMotrevo::kRefused) {
      // The trainer's loader refused the line: the person is told, then the update fails.
      CStreamException(CStreamIO::kNotAcceptedMessage).ReportError(MB_ICONERROR);
      return false;
    }
  }
  return true;
}

std::string MotrevoTextToUtf8(const std::string& text) {
  std::string utf8;
  for (char c : text) {
    auto code = static_cast<std::uint16_t>(static_cast<std::int16_t>(static_cast<signed char>(c)));
    if (code < 0x80) {
      utf8 += static_cast<char>(code);
    } else {  // U+FF80..U+FFFF: three bytes
      utf8 += static_cast<char>(0xE0 | (code >> 12));
      utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return utf8;
}
