#include "net/stream_socket.h"

#include <QString>
#include <algorithm>
#include <optional>

#include "net/device_manager_settings.h"
#include "net/socket_login_dlg.h"
#include "platform/connected_device.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"
#include "platform/wait_cursor.h"

// ---- CStreamSocket ----

CStreamSocket::~CStreamSocket() {
  if (IsSocketOpen() && ReleaseOpen() == 0) Disconnect();
}

int CStreamSocket::QueryInitFailure(bool allowSimulation, bool allowExit) {
  CSocketLoginDlg dialog(allowSimulation, allowExit);
  dialog.host = Host();
  dialog.port = RemotePort();
  int result = dialog.DoModal();
  if (result == CSocketLoginDlg::kRepeatButton) {
    SetHost(dialog.host);
    SetRemotePort(dialog.port);
  }
  return result == -1 ? kExit : result;
}

bool CStreamSocket::Connect(int timeoutSeconds) {
  if (Host().empty()) return false;
  CWaitCursor wait;
  if (ConnectTcp(Host(), RemotePort(), timeoutSeconds) != kOk) {
    Disconnect();
    return false;
  }
  std::string address = Host() + ":" + std::to_string(RemotePort());
  NoteConnectedDevice({address, address});
  return true;
}

bool CStreamSocket::Open() {
  if (!IsSocketOpen()) {
    // No message for a failed connection: the caller's connect loop asks QueryInitFailure.
    if (!Connect(kConnectTimeoutSeconds)) return false;
  }
  AddOpen();
  return true;
}

void CStreamSocket::Close() {
  if (IsSocketOpen() && ReleaseOpen() == 0) Disconnect();
}

void CStreamSocket::Read(std::uint8_t* buffer, unsigned count) {
  if (!IsSocketOpen()) return;
  if (ReceiveAll(buffer, static_cast<int>(count), 0) < static_cast<int>(count)) {
    ThrowStreamException(kReadError);
  }
}

void CStreamSocket::SendUnbuffered(const std::uint8_t* buffer, unsigned count) {
  // A failed send is not reported: a lost connection shows at the next read.
  SendAll(buffer, static_cast<int>(count));
}

void CStreamSocket::Write(const std::uint8_t* buffer, unsigned count) {
  if (!IsSocketOpen()) return;
  if (!m_buffering) {
    SendUnbuffered(buffer, count);
    return;
  }
  for (unsigned i = 0; i < count; ++i) {
    if (m_bufferedCount == kWriteBufferSize) {
      SendUnbuffered(m_buffer.data(), m_bufferedCount);
      m_bufferedCount = 0;
    }
    m_buffer[m_bufferedCount++] = buffer[i];
  }
}

void CStreamSocket::EndWriteBuffer() {
  m_buffering = false;
  if (m_bufferedCount == 0) return;
  unsigned count = m_bufferedCount;
  m_bufferedCount = 0;
  Write(m_buffer.data(), count);
}

void CStreamSocket::ClearInput() {
  std::uint8_t scratch[256];
  while (IsSocketOpen() && HasPendingData(Socket())) {
    if (ReceiveSome(scratch, sizeof scratch, 0) < 1) break;
  }
}

bool CStreamSocket::ResetDevice() {
  Close();
  return true;
}

// ---- CStreamSocketUsb ----

CStreamSocketUsb::CStreamSocketUsb(std::string deviceKey) : m_deviceKey(std::move(deviceKey)) {
  std::optional<CRemoteDeviceSettings> settings = ReadRemoteDeviceSettings(m_deviceKey);
  if (!settings) return;
  SetHost(settings->Address);
  SetRemotePort(settings->Port);
  m_deviceName = settings->Name;
  m_product = settings->Product;
  m_userMode = settings->UserMode;
}

CStreamSocketUsb::~CStreamSocketUsb() {
  if (IsSocketOpen() && ReleaseOpen() == 0) SendCloseAndDisconnect();
}

std::array<std::uint8_t, CStreamSocketUsb::kHeaderSize> CStreamSocketUsb::Header(RequestType type,
                                                                                 std::uint32_t length) {
  return {static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(type >> 8), 0, 0,
          static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
          static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
}

std::array<std::uint8_t, CStreamSocketUsb::kOpenRecordSize> CStreamSocketUsb::OpenRecord(
    const std::string& deviceName, std::uint16_t product, std::uint8_t userMode) {
  std::array<std::uint8_t, kOpenRecordSize> record{};
  record[0] = 1;
  record[2] = static_cast<std::uint8_t>(product);
  record[3] = static_cast<std::uint8_t>(product >> 8);
  record[4] = userMode;
  std::u16string name = QString::fromStdString(deviceName).toStdU16String();
  // A longer name from the settings is cut: the record has room for 255 units and the zero.
  if (name.size() > kMaxNameUnits) name.resize(kMaxNameUnits);
  for (std::size_t i = 0; i < name.size(); ++i) {
    record[6 + 2 * i] = static_cast<std::uint8_t>(name[i]);
    record[7 + 2 * i] = static_cast<std::uint8_t>(name[i] >> 8);
  }
  return record;
}

int CStreamSocketUsb::QueryInitFailure(bool allowSimulation, bool allowExit) {
  int result = CStreamSocket::QueryInitFailure(allowSimulation, allowExit);
  // The connect loop makes a new stream for the retry, which reads the settings again.
  if (result == kRetry) WriteRemoteDeviceAddress(m_deviceKey, Host(), RemotePort());
  return result;
}

bool CStreamSocketUsb::Open() {
  if (IsSocketOpen()) {
    AddOpen();
    return true;
  }
  if (!Connect(-1)) return false;
  auto header = Header(kOpen, kOpenRecordSize);
  auto record = OpenRecord(m_deviceName, m_product, m_userMode);
  SendAll(header.data(), header.size());
  SendAll(record.data(), record.size());
  std::array<std::uint8_t, kOpenAnswerSize> answer{};
  int received = ReceiveAll(answer.data(), answer.size(), 0);
  unsigned status = answer[kStatusOffset] | (answer[kStatusOffset + 1] << 8);
  // A server that closed or went silent before the whole answer has opened nothing either.
  // The connection goes with the refusal: left up with no open counted, the next Open would
  // take it for an opened device and report success without asking the server again.
  if (received < static_cast<int>(kOpenAnswerSize) || status != 0) {
    Disconnect();
    UserInterface().MessageBox(FormatMessage(LoadResString(kNoInterfaceMessage), {m_deviceName}), MB_OK);
    return false;
  }
  AddOpen();
  return true;
}

void CStreamSocketUsb::SendCloseAndDisconnect() {
  auto header = Header(kClose, 0);
  SendAll(header.data(), header.size());
  Disconnect();
}

void CStreamSocketUsb::Close() {
  if (IsSocketOpen() && ReleaseOpen() == 0) SendCloseAndDisconnect();
}

void CStreamSocketUsb::Read(std::uint8_t* buffer, unsigned count) {
  if (!IsSocketOpen()) return;
  auto header = Header(kRead, count);
  SendAll(header.data(), header.size());
  if (ReceiveAll(buffer, static_cast<int>(count), 0) < static_cast<int>(count)) {
    ThrowStreamException(kReadError);
  }
}

void CStreamSocketUsb::SendUnbuffered(const std::uint8_t* buffer, unsigned count) {
  std::vector<std::uint8_t> request(kHeaderSize + count);
  auto header = Header(kWrite, count);
  std::copy(header.begin(), header.end(), request.begin());
  std::copy(buffer, buffer + count, request.begin() + kHeaderSize);
  SendAll(request.data(), static_cast<int>(request.size()));
}
