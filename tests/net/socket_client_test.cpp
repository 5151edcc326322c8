// The socket client on loopback, and inside a namespace of its own where a host must not
// answer or a name must not resolve (nothing leaves the namespace: it has no route out).

#include "net/socket_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "support/net_namespace.h"

namespace {

// A TCP listener on 127.0.0.1 with a port of the system's choice.
class CLoopbackListener {
 public:
  CLoopbackListener() {
    m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_socket, 4);
    socklen_t size = sizeof address;
    ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size);
    m_port = ntohs(address.sin_port);
  }
  ~CLoopbackListener() { Close(); }
  std::uint16_t Port() const { return m_port; }
  int Accept() { return ::accept(m_socket, nullptr, nullptr); }
  void Close() {
    if (m_socket >= 0) ::close(m_socket);
    m_socket = -1;
  }

 private:
  int m_socket = -1;
  std::uint16_t m_port = 0;
};

class CRecordingSink : public CNotifySinkTrace {
 public:
  void Write(const std::string& text) override { lines.push_back(text); }
  std::vector<std::string> lines;
};

}  // namespace

TEST(SocketClient, ConnectsOnceAndRefusesASecondConnectWithoutTouchingTheFirst) {
  CLoopbackListener listener;
  CSocketClient client;
  ASSERT_EQ(client.ConnectTcp("127.0.0.1", listener.Port(), 5), 0);
  int peer = listener.Accept();
  int socket = client.Socket();
  EXPECT_EQ(client.RemotePort(), listener.Port());
  EXPECT_NE(client.LocalPort(), 0);

  EXPECT_EQ(client.ConnectTcp("127.0.0.1", listener.Port(), 5), CSocketClient::kAlreadyOpened);
  EXPECT_EQ(client.Socket(), socket);
  const std::uint8_t hello[] = {'h', 'i'};
  EXPECT_TRUE(client.SendAll(hello, 2));
  std::uint8_t got[2] = {};
  EXPECT_EQ(::recv(peer, got, 2, MSG_WAITALL), 2);
  EXPECT_EQ(got[1], 'i');

  EXPECT_EQ(client.Disconnect(), 0);
  EXPECT_FALSE(client.IsSocketOpen());
  EXPECT_EQ(client.Disconnect(), 0) << "a closed client disconnects with 0";
  ::close(peer);
}

TEST(SocketClient, ARefusedPortFailsWithAndWithoutATimeout) {
  std::uint16_t port;
  {
    CLoopbackListener gone;
    port = gone.Port();
  }
  for (int timeout : {-1, 5}) {
    CSocketClient client;
    EXPECT_EQ(client.ConnectTcp("127.0.0.1", port, timeout), CSocketClient::kConnectFailed) << timeout;
    EXPECT_FALSE(client.IsSocketOpen());
  }
}

TEST(SocketClient, ReceiveAllReturnsTheShortCountWhenThePeerCloses) {
  CLoopbackListener listener;
  CSocketClient client;
  ASSERT_EQ(client.ConnectTcp("localhost", listener.Port(), -1), 0);
  int peer = listener.Accept();
  const std::uint8_t four[] = {1, 2, 3, 4};
  ::send(peer, four, 4, 0);
  ::close(peer);
  std::uint8_t buffer[10] = {};
  EXPECT_EQ(client.ReceiveAll(buffer, 10, 0), 4);
  EXPECT_EQ(buffer[3], 4);
}

TEST(SocketClient, ASilentPeerEndsReceivesWithinTheBounds) {
  CLoopbackListener listener;
  CSocketClient client;
  client.SetReceiveTimeout(300);
  ASSERT_EQ(client.ConnectTcp("127.0.0.1", listener.Port(), 5), 0);
  int peer = listener.Accept();
  std::uint8_t buffer[4];
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.ReceiveAll(buffer, 4, 0), 0) << "the socket's receive time-out ends the read";
  EXPECT_EQ(client.ReceiveSome(buffer, 4, 1), 0);
  EXPECT_FALSE(client.WaitReadable(200));
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::milliseconds(2500));
  EXPECT_GE(elapsed, std::chrono::milliseconds(1400));
  ::close(peer);
}

TEST(SocketClient, SendingToAPeerThatResetTheConnectionFailsWithoutEndingTheProgram) {
  CLoopbackListener listener;
  CSocketClient client;
  ASSERT_EQ(client.ConnectTcp("127.0.0.1", listener.Port(), 5), 0);
  int peer = listener.Accept();
  linger reset{1, 0};  // close with a reset
  ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(peer);
  std::vector<std::uint8_t> block(65536, 0x55);
  bool sent = true;
  for (int i = 0; i < 8 && sent; ++i) sent = client.SendAll(block.data(), static_cast<int>(block.size()));
  EXPECT_FALSE(sent);
  EXPECT_EQ(client.Disconnect(), 1) << "the shutdown of a reset connection fails";
}

TEST(SocketClient, ADatagramReceiveTimesOutAndKeepsTheLength) {
  CSocketClient client;
  ASSERT_EQ(client.OpenDatagram(0, 0, {}), 0);
  EXPECT_NE(client.LocalPort(), 0);
  std::uint8_t buffer[180];
  int length = 180;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.ReceiveDatagram(buffer, length, 1), CSocketClient::kTimeout);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(length, 180);
  EXPECT_GE(elapsed, std::chrono::milliseconds(950));
  EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
  EXPECT_EQ(client.OpenDatagram(0, 0, {}), CSocketClient::kAlreadyOpened);
  EXPECT_EQ(client.Disconnect(), 0);

  CSocketClient closed;
  EXPECT_EQ(closed.ReceiveDatagram(buffer, length, 1), CSocketClient::kNotOpened);
}

TEST(SocketClient, DatagramsTravelBothWaysAndTheSenderBecomesTheRemoteAddress) {
  CSocketClient receiver, sender;
  ASSERT_EQ(receiver.OpenDatagram(0, 0, {}, "127.0.0.1"), 0);
  ASSERT_EQ(sender.OpenDatagram(0, receiver.LocalPort(), "127.0.0.1"), 0);
  const std::uint8_t data[] = {'Q', 'X', 1, 0x80};
  int length = 4;
  ASSERT_TRUE(sender.SendDatagram(data, length));
  EXPECT_EQ(length, 4);
  std::uint8_t buffer[180] = {};
  length = 180;
  ASSERT_EQ(receiver.ReceiveDatagram(buffer, length, 1), 0);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(buffer[3], 0x80);
  EXPECT_EQ(receiver.RemoteAddress(), htonl(INADDR_LOOPBACK));
}

TEST(SocketClient, ErrorsGoToTheTraceSinkWithTheHostAndKeepTheirCode) {
  CRecordingSink sink;
  CSocketClient client;
  EXPECT_EQ(client.SetTraceSink(&sink), nullptr);
  client.SetHost("10.1.2.3");
  EXPECT_EQ(client.ReportError(19), 19);
  EXPECT_EQ(client.ReportError(0), 0);
  ASSERT_EQ(sink.lines.size(), 1u);
  EXPECT_EQ(sink.lines[0], "The socket connection failed. (10.1.2.3)");
  struct Row {
    int code;
    const char* text;
  };
  for (Row row : {Row{0, "Operation completed successfully."}, Row{5, "The connection timed-out."},
                  Row{16, "The socket is already opened or in use."}, Row{20, "A timeout occurred."},
                  Row{100, "The address is not valid."}}) {
    EXPECT_EQ(CSocketClient::ErrorText(row.code), row.text);
  }
  EXPECT_EQ(CSocketClient::ResolveHost("127.0.0.1"), "127.0.0.1");
}

// A namespace whose one network is a veth pair with nobody behind it: the peer's hardware
// address is fixed, so a connect sends its SYNs into the void and never gets an answer, and
// a name lookup has no server to ask.
TEST(SocketClient, InANamespaceASilentHostTimesOutAndAnUnknownNameIsRefused) {
  CNetNamespace ns("sockclient");
  if (!ns.Failure().empty()) GTEST_SKIP() << ns.Failure();
  if (!ns.Ip("link add silent0 type veth peer name silent1") ||
      !ns.Ip("addr add 10.77.0.1/24 dev silent0") || !ns.Ip("link set silent0 up") ||
      !ns.Ip("link set silent1 up") ||
      !ns.Ip("neigh add 10.77.0.2 lladdr 02:00:00:00:77:99 dev silent0 nud permanent")) {
    GTEST_SKIP() << ns.Failure();
  }
  ASSERT_TRUE(ns.RunInside([] {
    CSocketClient client;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.ConnectTcp("10.77.0.2", 502, 5), CSocketClient::kTimedOutConnect);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(4900));
    EXPECT_LT(elapsed, std::chrono::milliseconds(7000));
    EXPECT_FALSE(client.IsSocketOpen());

    CSocketClient unresolved;
    EXPECT_EQ(unresolved.ConnectTcp("no-such-unit.invalid", 502, 5), CSocketClient::kBadAddress);
    EXPECT_FALSE(unresolved.IsSocketOpen());
  }));
}
