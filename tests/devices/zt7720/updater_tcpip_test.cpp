// The ZT7720 updaters against a simulated unit on loopback: the connect steps, the block
// download on the wire and on the clock, and the unit's refusals.

#include "devices/zt7720/updater_tcpip.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/udp_connect_dlg.h"
#include "platform/clock.h"
#include "sim/devices/zt7720/sim_zt7720.h"
#include "sim/sim_error.h"
#include "support/image_files.h"
#include "support/scripted_user_interface.h"
#include "updater/device_catalog.h"

using image_test::HexLine;

namespace {

// A HEX file with `data` at `address` (an extended linear address record first).
std::string HexFile(std::uint32_t address, const std::vector<std::uint8_t>& data) {
  std::string text = HexLine(4, 0, {static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16)}) + "\n";
  for (std::size_t i = 0; i < data.size(); i += 16) {
    std::vector<std::uint8_t> piece(data.begin() + static_cast<long>(i),
                                    data.begin() + static_cast<long>(std::min(data.size(), i + 16)));
    text += HexLine(0, (address + i) & 0xFFFF, piece) + "\n";
  }
  return text + HexLine(1, 0, {}) + "\n";
}

}  // namespace

class UpdaterTcpip : public ::testing::Test {
 protected:
  void StartUnit(CSimZt7720Setup setup = {}) {
    setup.Port = 0;
    m_unit = std::make_unique<CSimZt7720>(setup);
    m_unit->Start();
  }
  // The person confirms the unit's loopback address in the Connect dialog.
  void AnswerConnect() {
    m_ui.QueueConnectScript([this](CUdpConnectDlg& dialog) {
      m_dialogAddress = dialog.address;
      m_dialogPort = dialog.port;
      m_configurationVisible = dialog.IsConfigurationVisible();
      dialog.port = m_unit->Port();
      return *dialog.PressOk("127.0.0.1");
    });
  }
  DeviceRecord Record(const std::string& hex) {
    DeviceRecord record;
    record.FirmwarePath = m_folder.Write("unit.hex", hex);
    return record;
  }

  CScriptedUserInterface m_ui;
  CVirtualClock m_clock;
  CClockScope m_clockScope{m_clock};
  CTempFolder m_folder;
  std::unique_ptr<CSimZt7720> m_unit;
  std::string m_dialogAddress;
  std::uint16_t m_dialogPort = 0;
  bool m_configurationVisible = true;
};

TEST_F(UpdaterTcpip, ConnectsThroughTheDialogAndSendsOnlyTheBlocksThatHoldData) {
  StartUnit({.FirmwareVersion = 105});
  CUpdater5R updater;
  AnswerConnect();
  ASSERT_TRUE(updater.Connect());
  EXPECT_EQ(m_dialogAddress, "0.0.0.0");
  EXPECT_EQ(m_dialogPort, 502);
  EXPECT_FALSE(m_configurationVisible);
  EXPECT_EQ(updater.GetFirmwareVersion(), 105);

  std::vector<std::uint8_t> data(32);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  m_clock.ClearWaits();
  ASSERT_TRUE(updater.Update(Record(HexFile(0x1F000, data)), nullptr));
  EXPECT_EQ(m_clock.Waits(), (std::vector<std::uint32_t>{500, 200}));
  // The unit takes one connection at a time: another program can reach it after the update.
  EXPECT_FALSE(updater.Stream().IsOpen());

  // A second Connect runs the dialog and keeps the connection without asking again.
  AnswerConnect();
  EXPECT_TRUE(updater.Connect());
  EXPECT_TRUE(updater.Finish());

  std::vector<CSimZt7720::Block> blocks = m_unit->Blocks();
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].Address, 0x1F000u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), blocks[0].Data.begin()));
  EXPECT_EQ(blocks[0].Data[32], 0xFF);
  EXPECT_TRUE(m_unit->WaitForEnds(1));
  std::vector<std::string> texts;
  for (const auto& shown : m_ui.Record()) {
    if (shown.kind == "animation-text") texts.push_back(shown.text);
  }
  EXPECT_EQ(texts, std::vector<std::string>{"Programming segment 31 at 1F000\n"});
}

// Only the end command would go out, and the unit would count as programmed.
TEST_F(UpdaterTcpip, AnImageWithoutDataIsRefusedBeforeAnythingIsSent) {
  StartUnit();
  CUpdater5R updater;
  AnswerConnect();
  ASSERT_TRUE(updater.Connect());
  EXPECT_FALSE(updater.Update(Record(HexLine(1, 0, {}) + "\n"), nullptr));
  updater.Finish();
  EXPECT_TRUE(m_unit->Blocks().empty());
  EXPECT_EQ(m_unit->Ends(), 0u);
  ASSERT_EQ(m_ui.MessageTexts().size(), 1u);
  EXPECT_NE(m_ui.MessageTexts()[0].find(": The file holds no data to send."), std::string::npos) << m_ui.MessageTexts()[0];
}

TEST_F(UpdaterTcpip, AnotherModelOrAModelCodeOffIndexZeroIsRefusedWith20006) {
  for (auto [model, className] : {std::pair{"ZT7720-4K", "5S"}, std::pair{"xZT7720-4K", "5R"}}) {
    m_ui.ClearRecord();
    StartUnit({.ModelCode = std::string(model)});
    std::unique_ptr<CUpdaterTCPIP> updater;
    if (std::string(className) == "5S") updater = std::make_unique<CUpdater5S>();
    else updater = std::make_unique<CUpdater5R>();
    AnswerConnect();
    EXPECT_FALSE(updater->Connect()) << model;
    EXPECT_FALSE(updater->Stream().IsOpen());
    ASSERT_EQ(m_ui.MessageTexts().size(), 1u);
    EXPECT_NE(m_ui.MessageTexts()[0].find("\"" + updater->ModelCode() + "\""), std::string::npos);
  }
}

TEST_F(UpdaterTcpip, ARefusedBlockOrALostConnectionRaisesOutOfUpdate) {
  std::vector<std::uint8_t> data(8, 0x42);
  std::string hex = HexFile(0x0000, data) ;
  hex.insert(hex.rfind(':'), HexLine(0, 0x2000, data) + "\n");  // blocks 0 and 2
  struct Row {
    CSimZt7720Setup setup;
    int message;
  };
  for (const Row& row : {Row{{.Faults = {.RefusedAcknowledgements = {2}}}, 20016}, Row{{.DropAtBlock = 1}, 20020}}) {
    StartUnit(row.setup);
    CUpdater5R updater;
    AnswerConnect();
    ASSERT_TRUE(updater.Connect());
    try {
      updater.Update(Record(hex), nullptr);
      ADD_FAILURE() << "the update must fail";
    } catch (const CStreamException& e) {
      EXPECT_EQ(e.MessageId(), row.message);
    }
    EXPECT_FALSE(m_ui.animationShown) << "the animation is stopped on the way out";
    EXPECT_FALSE(updater.Stream().IsOpen()) << "the unit is let go";
    EXPECT_EQ(m_unit->Ends(), 0u);
  }
}

TEST_F(UpdaterTcpip, ACancelledDialogOrARefusedPortEndsConnect) {
  CUpdater5S updater;
  EXPECT_FALSE(updater.Connect()) << "nothing queued: the dialog is cancelled";
  EXPECT_TRUE(m_ui.MessageTexts().empty());

  StartUnit();
  std::uint16_t port = m_unit->Port();
  m_unit->Stop();
  m_ui.QueueConnectScript([port](CUdpConnectDlg& dialog) {
    dialog.port = port;
    return *dialog.PressOk("127.0.0.1");
  });
  EXPECT_FALSE(updater.Connect());
  EXPECT_EQ(m_ui.MessageTexts(), std::vector<std::string>{"The socket connection failed."});
}

// A loopback port whose accept queue is full: the handshake of a further connection is never
// answered, as with a host that is not there.
class CSilentLoopbackHost {
 public:
  CSilentLoopbackHost() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(m_listener, 0) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      return;
    }
    m_port = ntohs(address.sin_port);
    m_filler = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(m_filler, reinterpret_cast<sockaddr*>(&address), size) != 0) m_port = 0;
  }
  ~CSilentLoopbackHost() {
    ::close(m_filler);
    ::close(m_listener);
  }
  // 0 when the host could not be set up.
  std::uint16_t Port() const { return m_port; }

 private:
  int m_listener = -1;
  int m_filler = -1;
  std::uint16_t m_port = 0;
};

TEST_F(UpdaterTcpip, AHostThatNeverAnswersEndsConnectAtTheBoundWithTheSocketsText) {
  CSilentLoopbackHost host;
  ASSERT_NE(host.Port(), 0);
  CUpdater5R updater;
  // The ten seconds of the program would make the test wait for real; the bound is what
  // counts, so the test runs with none.
  updater.SetConnectBound(0);
  m_ui.QueueConnectScript([&host](CUdpConnectDlg& dialog) {
    dialog.port = host.Port();
    return *dialog.PressOk("127.0.0.1");
  });
  EXPECT_FALSE(updater.Connect());
  EXPECT_EQ(m_ui.MessageTexts(), std::vector<std::string>{"The connection timed-out."});
  EXPECT_FALSE(updater.Stream().IsOpen());
}

TEST(UpdaterTcpipIdentification, TheVersionIsTheNumberFromIndexTen) {
  struct Row {
    const char* text;
    std::uint16_t version;
  };
  for (Row row : {Row{"ZT7720-4K 0105", 105}, Row{"ZT7720-4K  +42x", 42}, Row{"ZT7720-4K", 0},
                  Row{"ZT7720-4K abc", 0}, Row{"ZT7720-4K 70000", 4464}, Row{"ZT7720-4K 99999999999999999999", 65535}}) {
    EXPECT_EQ(CUpdaterTCPIP::VersionFromIdentification(row.text), row.version) << row.text;
  }
}

TEST(SimZt7720Options, ReadsTheOptionsOfTavrixDevsim) {
  CSimZt7720Setup setup = CSimZt7720::ParseOptions(
      "type=7721,firmware=0x96,port=5020,discovery,name=Bench 2,refuse_block=3,garble_ack=5,stall_after=9000,"
      "identity=\"ZX0000-0X Other, 100\"");
  EXPECT_EQ(setup.DeviceType, 7721);
  EXPECT_EQ(setup.FirmwareVersion, 150);
  EXPECT_EQ(setup.Port, 5020);
  EXPECT_TRUE(setup.Discovery);
  EXPECT_EQ(setup.Name, "Bench 2");
  // The generic faults of every simulated device; refuse_block is the unit's word for refuse_ack.
  EXPECT_EQ(setup.Faults.RefusedAcknowledgements, std::set<std::uint32_t>{3});
  EXPECT_EQ(setup.Faults.GarbledAcknowledgements, std::set<std::uint32_t>{5});
  EXPECT_EQ(setup.Faults.StallAfterBytes, 9000u);
  EXPECT_EQ(setup.Faults.Identity, "ZX0000-0X Other, 100");
  for (const char* bad : {"port=70000", "colour=red", "firmware=x"}) {
    EXPECT_THROW(CSimZt7720::ParseOptions(bad), CSimError) << bad;
  }
}
