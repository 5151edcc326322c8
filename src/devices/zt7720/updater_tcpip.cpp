#include "devices/zt7720/updater_tcpip.h"

#include <algorithm>
#include <cctype>

#include "image/hex_file_reader.h"
#include "image/image_load_error.h"
#include "image/image_strings.h"
#include "net/udp_connect_dlg.h"
#include "platform/anim_wait.h"
#include "platform/clock.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"
#include "platform/wait_cursor.h"
#include "updater/device_catalog.h"
#include "updater/stop_request.h"

namespace {
constexpr int kNoInterfaceMessage = 20006;
}  // namespace

CUpdaterTCPIP::CUpdaterTCPIP(std::uint16_t deviceType) {
  m_stream.deviceType = deviceType;
  m_stream.SetHost("0.0.0.0");
  m_stream.SetRemotePort(kDefaultPort);
  m_stream.SetSendTimeout(5000);
  m_stream.SetReceiveTimeout(5000);
}

std::string CUpdaterTCPIP::ModelCode() const {
  return m_stream.deviceType == 7720 ? "ZT7720-4K" : "ZT7720-4M";
}

std::uint16_t CUpdaterTCPIP::VersionFromIdentification(const std::string& text) {
  if (text.size() < 11) return 0;
  std::size_t i = 10;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long value = 0;
  // The unit's number is cut to the 16 bits the version has; a long run of digits cannot
  // overflow the sum.
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = (value * 10 + (text[i] - '0')) % 0x10000;
  }
  return static_cast<std::uint16_t>(negative ? -value : value);
}

bool CUpdaterTCPIP::ChooseDevice() {
  CUdpConnectDlg dialog(m_stream.deviceType, kConfigurationType);
  dialog.address = m_stream.Host();
  dialog.port = m_stream.RemotePort();
  dialog.configurationAllowed = false;
  if (dialog.DoModal() != IDOK) return false;
  m_stream.SetHost(dialog.address);
  m_stream.SetRemotePort(dialog.port);
  return true;
}

bool CUpdaterTCPIP::Connect() {
  if (!ChooseDevice()) return false;
  // A second Connect while connected does not identify the unit again.
  if (m_stream.IsOpen()) return true;
  CWaitCursor wait;
  return ConnectAndIdentify(m_stream.ConnectTcp(m_stream.Host(), m_stream.RemotePort(), m_connectBoundSeconds));
}

bool CUpdaterTCPIP::ConnectAgain() {
  // The unit chosen before, without the dialog: it restarts with its new firmware and takes
  // connections again after a while.
  m_stream.Disconnect();
  m_stream.firmwareVersion = 0;
  CWaitCursor wait;
  int error = CSocketClient::kOk;
  for (int attempt = 0; attempt < kComebackAttempts; ++attempt) {
    if (attempt > 0) Clock().Sleep(kComebackPause);
    error = m_stream.ConnectTcp(m_stream.Host(), m_stream.RemotePort(), m_connectBoundSeconds);
    if (error == CSocketClient::kOk) break;
    m_stream.Disconnect();
  }
  return ConnectAndIdentify(error);
}

bool CUpdaterTCPIP::ConnectAndIdentify(int connectError) {
  if (connectError != CSocketClient::kOk) {
    UserInterface().MessageBox(CSocketClient::ErrorText(connectError), MB_OK);
    m_stream.Disconnect();
    return false;
  }
  m_stream.WriteByte(kIdentify);
  // ReadString bounds the text: a unit that never sends the zero raises instead of filling
  // memory.
  std::string identification = m_stream.ReadString();
  const std::string model = ModelCode();
  if (identification.find(model) == 0) {
    m_stream.firmwareVersion = VersionFromIdentification(identification);
    return true;
  }
  m_stream.Disconnect();
  UserInterface().MessageBox(FormatMessage(LoadResString(kNoInterfaceMessage), {model}), MB_OK);
  return false;
}

void CUpdaterTCPIP::SendBlock(std::uint32_t address, const std::uint8_t* data) {
  m_stream.BeginWriteBuffer();
  m_stream.WriteByte(kProgramBlock);
  m_stream.WriteDWordLowHalfFirst(address);
  m_stream.EndWriteBuffer();
  // A failed send is not reported here: a lost connection shows at the acknowledgement.
  m_stream.SendAll(data, kBlockSize);
  Clock().Sleep(kPauseAfterBlock);
  m_stream.ExpectAck();
}

bool CUpdaterTCPIP::Update(const DeviceRecord& record, IFlashProgress* /*progress*/) {
  struct CloseAtEnd {
    CBusbar& stream;
    ~CloseAtEnd() { stream.Disconnect(); }
  } closeAtEnd{m_stream};
  CAnimWait animation;
  CIntelHexFileReader reader;
  if (!reader.OpenFile(record.FirmwarePath)) return false;
  reader.AllocImage(kImageSize);
  if (!reader.ReadImage()) {
    ShowImageRefusal(reader.LastError());
    return false;
  }
  const std::vector<std::uint8_t>& image = reader.Image();
  if (std::all_of(image.begin(), image.end(), [](std::uint8_t b) { return b == 0xFF; })) {
    // Only the end command would go out, and the unit would be reported programmed.
    ShowImageRefusal(CImageLoadError::ForFile(record.FirmwarePath, LoadResString(IDS_IMAGE_NO_DATA)));
    return false;
  }
  Clock().Sleep(kPauseBeforeFirstBlock);
  for (std::uint32_t block = 0; block < kImageSize / kBlockSize; ++block) {
    StopIfRequested();
    const std::uint32_t address = block * kBlockSize;
    const std::uint8_t* data = image.data() + address;
    if (std::all_of(data, data + kBlockSize, [](std::uint8_t b) { return b == 0xFF; })) continue;
    animation.SetText("Programming segment %u at %05X\n", block, address);
    SendBlock(address, data);
  }
  m_stream.WriteByte(kEnd);
  return true;
}

bool CUpdaterTCPIP::Finish() { return m_stream.Disconnect() == CSocketClient::kOk; }
