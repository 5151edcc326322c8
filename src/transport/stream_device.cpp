#include "transport/stream_device.h"

#include <algorithm>
#include <climits>

#include "platform/ascii_text.h"
#include "platform/clock.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"
#include "platform/wait_cursor.h"
#include "transport/stream_nul.h"

int CStreamDevice::OpenAndIdentify() {
  for (;;) {
    if (!m_stream) m_stream = CreateTransport();
    if (m_stream->Open()) {
      bool identified = false;
      {
        CWaitCursor waitCursor;
        try {
          identified = Identify();
        } catch (const CStreamException&) {
          identified = false;  // a broken answer is a failed identification
        }
      }
      if (identified) return kConnected;
    }
    int answer = m_stream->QueryInitFailure(false, true);
    if (answer == CStreamIO::kExit) {
      m_stream.reset();
      return kExit;
    }
    if (answer == CStreamIO::kSimulate && OffersSimulation()) {
      m_stream = std::make_unique<CStreamNUL>();
      return kSimulation;
    }
    m_stream.reset();  // the next try gets a fresh transport
  }
}

bool CStreamDevice::ConnectAgain() {
  m_stream.reset();
  m_identity.clear();
  for (int attempt = 0; attempt < kComebackAttempts; ++attempt) {
    m_stream = CreateTransport();
    if (m_stream->Open()) break;
    m_stream.reset();
    Clock().Sleep(kComebackPause);
  }
  // Found or not, the connect loop has the last word: it identifies a device that is there and
  // asks, as at the first connect, about one that is not.
  return OpenAndIdentify() == kConnected;
}

bool CStreamDevice::ReadIdentity(const std::string& modelCode, const std::string& expectedName) {
  m_stream->ClearInput();
  m_stream->WriteByte(0x02);
  m_identity = m_stream->ReadString();
  // The device sends one byte per character, the model code is UTF-8 (a catalog Id may go
  // beyond ASCII): the nine characters are compared as characters, not as bytes.
  if (EqualOverUtf8Characters(DeviceTextToUtf8(m_identity), modelCode, kModelCodeLength)) return true;
  if (!m_identity.empty()) ShowWrongDevice(m_identity, expectedName.empty() ? modelCode : expectedName);
  return false;
}

void CStreamDevice::ShowWrongDevice(const std::string& identity, const std::string& expected) {
  UserInterface().MessageBox(
      FormatMessage(LoadResString(20007), {DeviceTextToUtf8(identity), expected}), MB_OK);
}

std::uint16_t CStreamDevice::ParseVersionAt(const std::string& identity, std::size_t index) {
  if (identity.size() <= index) return 0;
  const char* p = identity.c_str() + index;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // Like the platform's conversion: a number beyond int saturates at the largest or smallest
  // int; only the low 16 bits are kept.
  constexpr std::int64_t kLimit = std::int64_t{INT_MAX} + 1;
  std::int64_t value = 0;
  while (*p >= '0' && *p <= '9') {
    value = std::min<std::int64_t>(value * 10 + (*p++ - '0'), kLimit);
  }
  if (negative) value = -value;
  value = std::clamp<std::int64_t>(value, INT_MIN, INT_MAX);
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(value));
}

std::string DeviceTextToUtf8(const std::string& text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else {
      utf8 += static_cast<char>(0xC0 | (byte >> 6));
      utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return utf8;
}
