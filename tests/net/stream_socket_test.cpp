// The socket streams: the plain TCP stream's open count, buffered writes and short reads, and
// the remote device stream through the simulated remote device server to a simulated USB
// device, with every frame checked byte for byte.

#include "net/stream_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "../sim/sim_test_support.h"
#include "net/device_manager_settings.h"
#include "net/socket_login_dlg.h"
#include "sim/scripted_sim_device.h"
#include "sim/sim_remote_device_server.h"
#include "support/temp_folder.h"

namespace {

using ByteVector = std::vector<std::uint8_t>;

ByteVector Header(std::uint8_t type, std::uint32_t length) {
  return {type, 0, 0, 0, static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
          static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
}

ByteVector Concat(ByteVector a, const ByteVector& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

ByteVector Pattern(std::size_t count, std::uint8_t seed) {
  ByteVector bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
  return bytes;
}

// A plain stream whose sends are recorded, call by call, on their way to the socket.
class CRecordingStream : public CStreamSocket {
 public:
  int SendRaw(int socket, const void* data, int length, int flags) override {
    sends.push_back(length);
    return CStreamSocket::SendRaw(socket, data, length, flags);
  }
  std::vector<int> sends;
};

// A TCP peer on loopback that accepts one connection.
class CPeer {
 public:
  CPeer() {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_listen, 2);
    socklen_t size = sizeof address;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
  }
  ~CPeer() {
    if (fd >= 0) ::close(fd);
    ::close(m_listen);
  }
  void Accept() { fd = ::accept(m_listen, nullptr, nullptr); }
  ByteVector Receive(std::size_t count) {
    ByteVector bytes(count);
    std::size_t got = 0;
    while (got < count) {
      ssize_t n = ::recv(fd, bytes.data() + got, count - got, 0);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
  }
  std::uint16_t port = 0;
  int fd = -1;

 private:
  int m_listen = -1;
};

}  // namespace

TEST(StreamSocket, CountsOpensBuffersWritesIn4095BytePiecesAndRaisesOnAShortRead) {
  CScriptedUserInterface ui;
  CPeer peer;
  CRecordingStream stream;
  stream.SetHost("127.0.0.1");
  stream.SetRemotePort(peer.port);
  std::uint8_t untouched[2] = {0xEE, 0xEE};
  stream.Read(untouched, 2);  // not open: nothing happens
  EXPECT_EQ(untouched[0], 0xEE);

  ASSERT_TRUE(stream.Open());
  peer.Accept();
  ASSERT_TRUE(stream.Open());
  EXPECT_EQ(stream.OpenCount(), 2);

  ByteVector data = Pattern(5000, 3);
  stream.BeginWriteBuffer();
  stream.Write(data.data(), 5000);
  EXPECT_EQ(stream.sends, (std::vector<int>{4095})) << "the 4096th byte sends the full buffer";
  stream.EndWriteBuffer();
  EXPECT_EQ(stream.sends, (std::vector<int>{4095, 905}));
  EXPECT_EQ(peer.Receive(5000), data);

  const std::uint8_t three[] = {1, 2, 3};
  ::send(peer.fd, three, 3, 0);
  std::uint8_t got[3] = {};
  stream.Read(got, 3);
  EXPECT_EQ(got[2], 3);

  stream.Close();
  EXPECT_TRUE(stream.IsOpen()) << "one open is left";
  ::send(peer.fd, three, 2, 0);
  ::shutdown(peer.fd, SHUT_WR);
  try {
    stream.Read(got, 3);
    ADD_FAILURE() << "a short read must raise";
  } catch (const CStreamException& e) {
    EXPECT_EQ(e.MessageId(), 20020);
  }
  stream.Close();
  EXPECT_FALSE(stream.IsOpen());
  EXPECT_TRUE(ui.MessageTexts().empty());
}

TEST(StreamSocket, AnEmptyHostOrARefusedPortFailsToOpenWithoutAMessage) {
  CScriptedUserInterface ui;
  CStreamSocket empty;
  EXPECT_FALSE(empty.Open());
  std::uint16_t port;
  {
    CPeer gone;
    port = gone.port;
  }
  CStreamSocket refused;
  refused.SetHost("127.0.0.1");
  refused.SetRemotePort(port);
  EXPECT_FALSE(refused.Open());
  EXPECT_FALSE(refused.IsOpen());
  EXPECT_TRUE(ui.Record().empty());
}

TEST(SocketLoginDlg, ValidatesTheFieldsAndHonoursTheFlags) {
  CScriptedUserInterface ui;
  struct Row {
    const char* host;
    const char* port;
    std::optional<int> result;
    const char* message;  // the message box shown, or nullptr
    std::uint16_t kept;
  };
  const Row rows[] = {
      {"", "8080", std::nullopt, "Please enter the server address (Name or IP)!", 0},
      {"server", "", std::nullopt, "Please enter a positive integer.", 0},
      {"server", "80a", std::nullopt, "Please enter a positive integer.", 0},
      {"server", "-1", std::nullopt, "Please enter a positive integer.", 0},
      {"server", "70000", 4, nullptr, 4464},  // the low 16 bits
      {"10.0.0.9", "8080", 4, nullptr, 8080},
  };
  for (const Row& row : rows) {
    ui.ClearRecord();
    CSocketLoginDlg dialog(true, true);
    EXPECT_EQ(dialog.PressButton(CSocketLoginDlg::kRepeatButton, row.host, row.port), row.result) << row.port;
    if (row.message != nullptr) {
      EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{row.message});
    } else {
      EXPECT_TRUE(ui.MessageTexts().empty());
      EXPECT_EQ(dialog.host, row.host);
      EXPECT_EQ(dialog.port, row.kept);
    }
  }

  CSocketLoginDlg locked(false, false);
  EXPECT_FALSE(locked.IsButtonEnabled(CSocketLoginDlg::kSimulationButton));
  EXPECT_FALSE(locked.IsButtonEnabled(CSocketLoginDlg::kExitButton));
  EXPECT_EQ(locked.Cancel(), std::nullopt) << "Escape is ignored without Exit";
  EXPECT_EQ(locked.PressButton(CSocketLoginDlg::kSimulationButton, "h", "1"), std::nullopt);
  EXPECT_EQ(locked.PressButton(CSocketLoginDlg::kExitButton, "h", "1"), std::nullopt);
  CSocketLoginDlg open(true, true);
  EXPECT_EQ(open.Cancel(), 2);
  EXPECT_EQ(open.PressButton(CSocketLoginDlg::kSimulationButton, "", ""), 6);
}

// The remote device stream against the simulated server, which forwards a simulated USB
// device found by its friendly name. The settings file is written as a person would.
class RemoteDeviceStream : public SimBusTest {
 protected:
  RemoteDeviceStream() {
    SetDeviceManagerDirectory(m_config.Path().string());
    CSimDeviceSetup setup = Setup(0x5A07);
    setup.FriendlyName = "SERVO-7";
    m_device = &m_bus->Plug<CScriptedSimDevice>(setup);
    m_device->AddRule("A5", "'ok!' 00");
    m_server = std::make_unique<CSimRemoteDeviceServer>(m_bus->Directory().string());
    m_server->Start();
  }
  ~RemoteDeviceStream() override {
    m_server->Stop();
    SetDeviceManagerDirectory({});
  }
  void WriteSettings(const std::string& body) { m_config.Write("Device Manager.ini", body); }
  std::string Settings() const { return ReadWholeFile(m_config.Path() / "Device Manager.ini"); }
  std::string Section(const std::string& name) const {
    return "[ZQ3351-9F]\nAddress=127.0.0.1\nPort=" + std::to_string(m_server->Port()) + "\nName=" + name +
           "\nProduct=258\nUserMode=3\nEnabled=1\n";
  }

  CScriptedUserInterface m_ui;
  CTempFolder m_config;
  CScriptedSimDevice* m_device = nullptr;
  std::unique_ptr<CSimRemoteDeviceServer> m_server;
};

TEST_F(RemoteDeviceStream, OpensReadsWritesAndClosesWithTheFramesOfTheProtocol) {
  WriteSettings(Section("SERVO-7"));
  EXPECT_TRUE(IsRemoteDeviceEnabled("ZQ3351-9F"));
  {
    CStreamSocketUsb stream("ZQ3351-9F");
    EXPECT_EQ(stream.DeviceName(), "SERVO-7");
    EXPECT_EQ(stream.Product(), 258);
    EXPECT_EQ(stream.UserMode(), 3);
    ASSERT_TRUE(stream.Open());
    ASSERT_TRUE(stream.Open());
    const std::uint8_t command = 0xA5;
    stream.Write(&command, 1);
    std::uint8_t answer[4] = {};
    stream.Read(answer, 4);
    EXPECT_EQ(std::string(answer, answer + 3), "ok!");
    EXPECT_EQ(answer[3], 0);
    ByteVector block = Pattern(5000, 9);
    stream.BeginWriteBuffer();
    stream.Write(block.data(), 5000);
    stream.EndWriteBuffer();
    stream.Close();
    EXPECT_TRUE(stream.IsOpen()) << "a nested open keeps the remote device open";
    stream.Close();
    EXPECT_FALSE(stream.IsOpen());
  }
  // The server has seen the close request once the connection is gone.
  for (int i = 0; i < 200 && m_server->Requests().size() < 6; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));

  ByteVector record(518, 0);
  record[0] = 1;
  record[2] = 0x02;  // product 258, little-endian
  record[3] = 0x01;
  record[4] = 3;
  const std::string name = "SERVO-7";
  for (std::size_t i = 0; i < name.size(); ++i) record[6 + 2 * i] = static_cast<std::uint8_t>(name[i]);
  ByteVector block = Pattern(5000, 9);
  const std::vector<ByteVector> expected = {
      Concat(Header(3, 518), record),
      Concat(Header(2, 1), {0xA5}),
      Header(1, 4),
      Concat(Header(2, 4095), ByteVector(block.begin(), block.begin() + 4095)),
      Concat(Header(2, 905), ByteVector(block.begin() + 4095, block.end())),
      Header(4, 0),
  };
  std::vector<ByteVector> seen = m_server->Requests();
  ASSERT_EQ(seen.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(seen[i], expected[i]) << "request " << i;
  EXPECT_TRUE(m_ui.Record().empty());
}

TEST_F(RemoteDeviceStream, ADeviceTheServerDoesNotHoldIsNamedAndNotTakenForOpenOnTheNextTry) {
  WriteSettings(Section("NOBODY"));
  CStreamSocketUsb stream("ZQ3351-9F");
  EXPECT_FALSE(stream.Open());
  EXPECT_FALSE(stream.IsOpen());
  ASSERT_EQ(m_ui.MessageTexts().size(), 1u);
  EXPECT_NE(m_ui.MessageTexts()[0].find("\"NOBODY\""), std::string::npos);
  EXPECT_FALSE(stream.Open()) << "the server is asked again, and refuses again";
  EXPECT_EQ(m_ui.MessageTexts().size(), 2u);
}

TEST_F(RemoteDeviceStream, TheLoginDialogsRetryStoresTheNewAddressForTheNextStream) {
  WriteSettings("[ZQ3351-9F]\nAddress=\nName=SERVO-7\nEnabled=1\n");
  CStreamSocketUsb first("ZQ3351-9F");
  EXPECT_EQ(first.RemotePort(), 8080) << "the default port";
  EXPECT_FALSE(first.Open()) << "no address";
  m_ui.QueueLoginAnswer({CSocketLoginDlg::kRepeatButton, "127.0.0.1", std::to_string(m_server->Port())});
  EXPECT_EQ(first.QueryInitFailure(true, true), CStreamIO::kRetry);
  EXPECT_NE(Settings().find("Address=127.0.0.1"), std::string::npos) << Settings();

  CStreamSocketUsb second("ZQ3351-9F");
  EXPECT_TRUE(second.Open());
  second.Close();

  // A device the file does not name gets no section from a retry.
  CStreamSocketUsb unknown("OTHER");
  EXPECT_EQ(unknown.Host(), "");
  EXPECT_EQ(unknown.RemotePort(), 0);
  EXPECT_FALSE(unknown.Open());
  m_ui.QueueLoginAnswer({CSocketLoginDlg::kRepeatButton, "127.0.0.1", "1"});
  EXPECT_EQ(unknown.QueryInitFailure(true, true), CStreamIO::kRetry);
  EXPECT_EQ(Settings().find("[OTHER]"), std::string::npos);
  EXPECT_FALSE(IsRemoteDeviceEnabled("OTHER"));
}

TEST(DeviceManagerSettings, EnabledIsFalseWithoutTheSectionOrTheValue) {
  CTempFolder folder;
  SetDeviceManagerDirectory(folder.Path().string());
  folder.Write("Device Manager.ini", "[A]\nEnabled=1\n[B]\nAddress=x\n[C]\nEnabled=0\n");
  EXPECT_TRUE(IsRemoteDeviceEnabled("A"));
  EXPECT_FALSE(IsRemoteDeviceEnabled("B"));
  EXPECT_FALSE(IsRemoteDeviceEnabled("C"));
  EXPECT_FALSE(IsRemoteDeviceEnabled("D"));
  SetDeviceManagerDirectory({});
}
