// The remote device stream against a fake server: every byte the server answers comes from the
// input, in receives no longer than the input's first byte says (0: as long as asked), and the
// operations the program runs on the stream are picked by the next bytes. The stream's socket
// calls are replaced: a connected UDP socket stands in for the connection (it connects without
// a peer) and sends and receives go to the fake. Checked against a model of the frames: the
// open request and its 518-byte record, an open that succeeds exactly for a whole answer of
// status 0 (else one message and no connection), one read request per read with the answer's
// bytes delivered in order or the read error raised, write requests of the bytes written (a
// buffered run in pieces of 4095), and one close request when the last open is released.
#include <sys/socket.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "net/device_manager_settings.h"
#include "net/stream_socket.h"
#include "transport/stream_exception.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr const char* kDeviceKey = "ZQ3351-9F";
constexpr const char* kDeviceName = "SERVO-7";

struct CFakeServer {
  Bytes answers;
  std::size_t next = 0;
  std::size_t chunk = 0;  // the longest receive; 0 for no limit
  Bytes received;         // what the stream sent

  std::size_t Remaining() const { return answers.size() - next; }
};

class CFakedStream : public CStreamSocketUsb {
 public:
  explicit CFakedStream(CFakeServer& server) : CStreamSocketUsb(kDeviceKey), m_server(server) {}
  // The opens are released here, while the sends still reach the fake: in the base class's
  // destructor they would go to the socket itself.
  ~CFakedStream() override {
    while (IsOpen()) Close();
  }

  int NewSocket(int& socket, int, int, int) override {
    socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return socket < 0 ? kFailed : kOk;
  }
  int ShutdownSocket(int, int) override { return 0; }
  int RecvRaw(int, void* buffer, int length, int) override {
    std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(length), m_server.Remaining());
    if (m_server.chunk != 0) count = std::min(count, m_server.chunk);
    std::copy_n(m_server.answers.begin() + static_cast<long>(m_server.next), count, static_cast<std::uint8_t*>(buffer));
    m_server.next += count;
    return static_cast<int>(count);  // 0 once the answers ran out: the server closed
  }
  int SendRaw(int, const void* data, int length, int) override {
    // Sends are taken in pieces too, so that every send loop has to go round.
    std::size_t count = static_cast<std::size_t>(length);
    if (m_server.chunk != 0) count = std::min(count, m_server.chunk);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    m_server.received.insert(m_server.received.end(), bytes, bytes + count);
    return static_cast<int>(count);
  }
  bool HasPendingData(int) override { return m_server.Remaining() > 0; }

 private:
  CFakeServer& m_server;
};

void Append(Bytes& to, const Bytes& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

Bytes Request(CStreamSocketUsb::RequestType type, std::uint32_t length, const Bytes& payload = {}) {
  auto header = CStreamSocketUsb::Header(type, length);
  Bytes request(header.begin(), header.end());
  if (header[0] != type || header[4] != static_cast<std::uint8_t>(length)) std::abort();
  Append(request, payload);
  return request;
}

Bytes Pattern(std::size_t count, std::uint8_t seed) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(seed + 3 * i);
  return bytes;
}

void Setup() {
  const std::string folder = ScratchFolder() + "/Tavrix";
  std::filesystem::create_directories(folder);
  WriteScratchFile(folder + "/Device Manager.ini",
                   std::string("[") + kDeviceKey + "]\nAddress=127.0.0.1\nPort=9\nName=" + kDeviceName +
                       "\nProduct=4660\nUserMode=2\nEnabled=1\n");
  SetDeviceManagerDirectory(folder);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CCountingUserInterface ui;
  static const bool ready = (Setup(), true);
  (void)ready;
  SetUserInterface(&ui);
  ui.messages = 0;
  if (size < 2) return 0;
  CFakeServer server;
  server.chunk = data[0];
  const std::size_t opCount = std::min<std::size_t>(data[1], size - 2);
  const Bytes ops(data + 2, data + 2 + opCount);
  server.answers.assign(data + 2 + opCount, data + size);

  Bytes expected;
  {
    CFakedStream stream(server);
    if (stream.DeviceName() != kDeviceName || stream.Product() != 4660 || stream.UserMode() != 2) std::abort();
    const auto record = CStreamSocketUsb::OpenRecord(kDeviceName, 4660, 2);
    // The record as the server reads it: 1, the product and the user mode, the name in UTF-16LE.
    const std::string name = kDeviceName;
    if (record[0] != 1 || record[2] != 0x34 || record[3] != 0x12 || record[4] != 2) std::abort();
    for (std::size_t i = 0; i <= name.size(); ++i) {
      const std::uint8_t unit = i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0;
      if (record[6 + 2 * i] != unit || record[7 + 2 * i] != 0) std::abort();
    }
    Append(expected, Request(CStreamSocketUsb::kOpen, CStreamSocketUsb::kOpenRecordSize, Bytes(record.begin(), record.end())));
    const bool whole = server.answers.size() >= CStreamSocketUsb::kOpenAnswerSize;
    const bool accepted = whole && server.answers[CStreamSocketUsb::kStatusOffset] == 0 &&
                          server.answers[CStreamSocketUsb::kStatusOffset + 1] == 0;
    const bool opened = stream.Open();
    if (opened != accepted || stream.IsOpen() != opened) std::abort();
    if (ui.messages != (opened ? 0 : 1)) std::abort();
    int opens = opened ? 1 : 0;
    for (std::uint8_t op : ops) {
      const unsigned parameter = op / 5u;
      switch (op % 5) {
        case 0: {  // read 1..51 bytes
          const unsigned count = parameter + 1;
          Bytes buffer(count + 2, 0xA5);
          const std::size_t remaining = server.Remaining();
          const Bytes coming(server.answers.begin() + static_cast<long>(server.next),
                             server.answers.begin() + static_cast<long>(server.next + std::min<std::size_t>(count, remaining)));
          bool raised = false;
          try {
            stream.Read(buffer.data() + 1, count);
          } catch (const CStreamException&) {
            raised = true;
          }
          if (buffer.front() != 0xA5 || buffer.back() != 0xA5) std::abort();
          if (opens == 0) {
            if (raised || std::any_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b != 0xA5; })) std::abort();
            break;
          }
          Append(expected, Request(CStreamSocketUsb::kRead, count));
          if (raised != (remaining < count)) std::abort();
          if (!raised && !std::equal(coming.begin(), coming.end(), buffer.begin() + 1)) std::abort();
          break;
        }
        case 1: {  // an unbuffered write
          const Bytes payload = Pattern(parameter + 1, op);
          stream.Write(payload.data(), static_cast<unsigned>(payload.size()));
          if (opens > 0) Append(expected, Request(CStreamSocketUsb::kWrite, static_cast<std::uint32_t>(payload.size()), payload));
          break;
        }
        case 2: {  // a buffered run longer than the buffer
          const Bytes payload = Pattern(CStreamSocket::kWriteBufferSize + 1 + parameter * 97, op);
          stream.BeginWriteBuffer();
          stream.Write(payload.data(), static_cast<unsigned>(payload.size()));
          stream.EndWriteBuffer();
          if (opens > 0) {
            for (std::size_t at = 0; at < payload.size(); at += CStreamSocket::kWriteBufferSize) {
              const std::size_t length = std::min<std::size_t>(CStreamSocket::kWriteBufferSize, payload.size() - at);
              const Bytes piece(payload.begin() + static_cast<long>(at), payload.begin() + static_cast<long>(at + length));
              Append(expected, Request(CStreamSocketUsb::kWrite, static_cast<std::uint32_t>(length), piece));
            }
          }
          if (stream.BufferedCount() != 0) std::abort();
          break;
        }
        case 3:  // whatever waits is discarded
          stream.ClearInput();
          if (opens > 0 && server.Remaining() != 0) std::abort();
          break;
        default:  // one more open, or one released
          if (parameter % 2 == 0 && opens > 0) {
            if (!stream.Open()) std::abort();
            ++opens;
          } else if (opens > 0) {
            stream.Close();
            if (--opens == 0) Append(expected, Request(CStreamSocketUsb::kClose, 0));
          }
          if (stream.IsOpen() != (opens > 0) || stream.OpenCount() != opens) std::abort();
          break;
      }
    }
    if (opens > 0) Append(expected, Request(CStreamSocketUsb::kClose, 0));  // sent as the stream goes
  }
  if (server.received != expected) {
    // Where the frames part, for whoever replays a finding.
    const auto [sent, modelled] = std::mismatch(server.received.begin(), server.received.end(), expected.begin(), expected.end());
    std::fprintf(stderr, "frames differ at byte %td of %zu sent, %zu expected\n", sent - server.received.begin(),
                 server.received.size(), expected.size());
    (void)modelled;
    std::abort();
  }
  return 0;
}
