// The ZT7720 network unit on arbitrary answers. A TCP server on the loopback address, in a
// thread of this process, answers the updater's connection with the input (after its first
// byte, which picks the unit type) and keeps everything the updater sends. The updater
// connects, reads the identification and, when it is taken, programs a small HEX image of
// two 4 KiB blocks. Checked: the identification is taken exactly when it begins with the
// unit's model code, and the version is the number from index 10; a refusal is one message;
// what reaches the unit is the identify command, then per block A0, the address in the unit's
// order and the block's 4096 bytes, then A1 — all of it when the programming succeeded, else
// the part up to where the answers stopped it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "devices/zt7720/updater_tcpip.h"
#include "fuzz_support.h"
#include "net/udp_connect_dlg.h"
#include "platform/clock.h"
#include "transport/stream_exception.h"
#include "updater/device_catalog.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The person confirms the connect dialog with the fuzz server's address.
class CConnectingUserInterface : public CCountingUserInterface {
 public:
  int RunConnectDialog(CUdpConnectDlg& dialog) override {
    dialog.address = "127.0.0.1";
    dialog.port = port;
    return IDOK;
  }
  std::uint16_t port = 0;
};

int Listener(std::uint16_t& port) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 4) != 0) {
    std::abort();
  }
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return listener;
}

// Accepts one connection, sends the answers, closes its sending side and keeps what arrives
// until the updater closes.
void Serve(int listener, const Bytes& answers, Bytes& received) {
  const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (connection < 0) std::abort();
  std::size_t sent = 0;
  while (sent < answers.size()) {
    const ssize_t count = ::send(connection, answers.data() + sent, answers.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) break;  // the updater closed early
    sent += static_cast<std::size_t>(count);
  }
  ::shutdown(connection, SHUT_WR);
  std::uint8_t buffer[16384];
  for (;;) {
    const ssize_t count = ::recv(connection, buffer, sizeof buffer, 0);
    if (count <= 0) break;
    received.insert(received.end(), buffer, buffer + count);
  }
  ::close(connection);
}

std::string HexLine(int type, unsigned address, const Bytes& data) {
  Bytes bytes{static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
              static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(type)};
  bytes.insert(bytes.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  bytes.push_back(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
  std::string line = ":";
  char hex[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
  }
  return line + "\n";
}

// The image programmed: four bytes at 0x0010 and one at 0x3000, so blocks 0 and 3 go out.
const std::string& ImagePath() {
  static const std::string path = [] {
    std::string file = ScratchFolder() + "/unit.hex";
    WriteScratchFile(file, HexLine(0, 0x0010, {1, 2, 3, 4}) + HexLine(0, 0x3000, {0xAA}) + ":00000001FF\n");
    return file;
  }();
  return path;
}

// Everything the unit receives when the programming runs to its end.
Bytes FullTranscript() {
  Bytes transcript{CUpdaterTCPIP::kIdentify};
  for (std::uint32_t address : {0x0000u, 0x3000u}) {
    transcript.push_back(CUpdaterTCPIP::kProgramBlock);
    // The address with its low half first, each half high byte first.
    transcript.insert(transcript.end(), {static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address),
                                         static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16)});
    Bytes block(CUpdaterTCPIP::kBlockSize, 0xFF);
    if (address == 0) {
      block[0x10] = 1;
      block[0x11] = 2;
      block[0x12] = 3;
      block[0x13] = 4;
    } else {
      block[0] = 0xAA;
    }
    transcript.insert(transcript.end(), block.begin(), block.end());
  }
  transcript.push_back(CUpdaterTCPIP::kEnd);
  return transcript;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CConnectingUserInterface ui;
  static CVirtualClock clock;
  static std::uint16_t port = 0;
  static const int listener = Listener(port);
  static const Bytes full = FullTranscript();
  ui.port = port;
  SetUserInterface(&ui);
  SetClock(&clock);
  clock.ClearWaits();
  ui.messages = 0;
  if (size < 1) return 0;
  const bool fourK = (data[0] & 1) == 0;
  const Bytes answers(data + 1, data + size);

  Bytes received;
  std::thread server(Serve, listener, std::cref(answers), std::ref(received));
  bool connected = false;
  bool programmed = false;
  std::uint16_t version = 0;
  {
    CUpdater5R unit4K;
    CUpdater5S unit4M;
    CUpdaterTCPIP& unit = fourK ? static_cast<CUpdaterTCPIP&>(unit4K) : unit4M;
    unit.SetConnectBound(5);
    try {
      connected = unit.Connect();
      if (connected) {
        version = unit.GetFirmwareVersion();
        DeviceRecord record;
        record.FirmwarePath = ImagePath();
        programmed = unit.Update(record, nullptr);
      }
    } catch (const CStreamException&) {
    }
    unit.Finish();
  }
  server.join();

  // The identification as sent: up to the zero, within the length a text may have.
  const std::string model = fourK ? "ZT7720-4K" : "ZT7720-4M";
  const std::string text(answers.begin(), answers.end());
  const std::size_t zero = text.find('\0');
  const bool complete = zero != std::string::npos && zero <= CStreamIO::kMaxStringLength;
  const std::string identification = complete ? text.substr(0, zero) : std::string();
  if (connected != (complete && identification.compare(0, model.size(), model) == 0)) std::abort();
  if (complete && !connected && ui.messages != 1) std::abort();
  if (connected && identification.size() > 10) {
    // A short number reads as strtol reads it, kept to 16 bits.
    std::size_t digits = 0;
    const char* p = identification.c_str() + 10;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    if (*p == '+' || *p == '-') ++p;
    while (p[digits] >= '0' && p[digits] <= '9') ++digits;
    if (digits <= 9 &&
        version != static_cast<std::uint16_t>(std::strtol(identification.c_str() + 10, nullptr, 10))) {
      std::abort();
    }
  }
  if (received.size() > full.size() || !std::equal(received.begin(), received.end(), full.begin())) std::abort();
  if (programmed && received != full) std::abort();
  if (!connected && received.size() > 1) std::abort();
  return 0;
}
