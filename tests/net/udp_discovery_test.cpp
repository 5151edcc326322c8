// Discovery: the datagram both ways, and searches between two network namespaces the test
// makes (a PC side and a unit side joined by veth pairs), so that no broadcast ever reaches a
// real network. Where namespaces cannot be made the namespace tests skip and say why.

#include "net/udp_discovery.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "console/console_session.h"
#include "console/console_user_interface.h"
#include "net/udp_connect_dlg.h"
#include "sim/devices/zt7720/sim_discovery_responder.h"
#include "support/net_namespace.h"
#include "support/scripted_user_interface.h"

namespace {

class CRecordingSink : public CNotifySinkTrace {
 public:
  void Write(const std::string& text) override { text_ += text; }
  std::string text_;
};

std::uint32_t Address(const char* dotted) {
  in_addr in{};
  ::inet_pton(AF_INET, dotted, &in);
  return in.s_addr;
}

}  // namespace

TEST(UdpDiscoveryDatagram, RequestsAndAnnouncementsHaveTheirFieldsWhereTheyBelong) {
  CUdpDiscovery::Datagram search = CUdpDiscovery::Request(CUdpDiscovery::kSearch, 7721);
  EXPECT_EQ(search[0], 'Q');
  EXPECT_EQ(search[1], 'X');
  EXPECT_EQ(search[2], 0x01);
  EXPECT_EQ(search[3], 0x80);
  EXPECT_EQ(search[4], 0x29);  // 7721 = 0x1E29, little-endian
  EXPECT_EQ(search[5], 0x1E);
  for (std::size_t i = 6; i < search.size(); ++i) ASSERT_EQ(search[i], 0) << i;

  CSimUnitIdentity unit;
  unit.HardwareAddress = {0x02, 0, 0, 0, 0x77, 0x21};
  unit.IpAddress = Address("10.71.1.2");
  unit.SubnetMask = Address("255.255.255.0");
  unit.DeviceType = 7721;
  unit.Name = u"Hall\u00e9 3";
  CSimDiscoveryResponder::Datagram bytes = CSimDiscoveryResponder::Announcement(unit);
  std::optional<CSocketDeviceInfo> info = CUdpDiscovery::ParseAnnouncement(bytes.data(), bytes.size());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->HardwareAddressText(), "02-00-00-00-77-21");
  EXPECT_EQ(info->IpText(), "10.71.1.2");
  EXPECT_EQ(info->SubnetMaskText(), "255.255.255.0");
  EXPECT_EQ(info->DeviceType, 7721);
  EXPECT_EQ(info->DisplayName(), "Hall\xC3\xA9 3");

  bytes[3] = 0x92;
  EXPECT_FALSE(CUdpDiscovery::ParseAnnouncement(bytes.data(), bytes.size()));
}

TEST(UdpDiscoveryDatagram, ANameIsBoundedByItsFieldAndShownWithoutControlCharacters) {
  CUdpDiscovery::Datagram bytes{};
  bytes[0] = 'Q';
  bytes[1] = 'X';
  bytes[3] = 0x91;
  for (std::size_t i = 20; i < bytes.size(); i += 2) bytes[i] = 'A';  // 80 units, no terminator
  bytes[20] = '\n';
  bytes[22] = 0x1B;
  auto info = CUdpDiscovery::ParseAnnouncement(bytes.data(), bytes.size());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->Name.size(), 80u);
  EXPECT_EQ(info->DisplayName(), "??" + std::string(78, 'A'));

  // A short datagram's missing bytes count as zero.
  auto shortOne = CUdpDiscovery::ParseAnnouncement(bytes.data(), 21);
  ASSERT_TRUE(shortOne);
  EXPECT_EQ(shortOne->Name, u"\n");
}

// A PC namespace and a unit namespace. With `twoNetworks` they are joined twice:
// pc0 10.71.1.1 - unit0 10.71.1.2 and pc1 10.71.2.1 - unit1 10.71.2.2.
class DiscoveryInNamespaces : public ::testing::Test {
 protected:
  void Make(bool twoNetworks) {
    m_pc = std::make_unique<CNetNamespace>("disc-pc");
    m_unit = std::make_unique<CNetNamespace>("disc-unit");
    if (!m_pc->Failure().empty()) {
      m_skip = m_pc->Failure();
      return;
    }
    bool made = m_pc->Link(*m_unit, "pc0", "10.71.1.1/24", "unit0", "10.71.1.2/24");
    if (made && twoNetworks) made = m_pc->Link(*m_unit, "pc1", "10.71.2.1/24", "unit1", "10.71.2.2/24");
    if (!made) m_skip = m_pc->Failure();
    m_interfaces = twoNetworks ? std::vector<std::string>{"unit0", "unit1"} : std::vector<std::string>{"unit0"};
  }
  void StartUnit(CSimUnitIdentity identity = Identity()) {
    m_responder = std::make_unique<CSimDiscoveryResponder>(identity, m_interfaces);
    ASSERT_TRUE(m_unit->RunInside([&] { m_responder->Start(); }));
  }
  static CSimUnitIdentity Identity() {
    CSimUnitIdentity unit;
    unit.IpAddress = Address("10.71.1.2");
    unit.SubnetMask = Address("255.255.255.0");
    return unit;
  }
  void Search(CUdpDiscovery& discovery, std::uint16_t type, bool keepList) {
    ASSERT_TRUE(m_pc->RunInside([&] { discovery.Search(type, keepList); }));
  }
  std::size_t RequestsWithCommand(std::uint8_t command, const std::string& interfaceName = {}) const {
    std::size_t count = 0;
    for (const auto& request : m_responder->Requests()) {
      if (request.Bytes[3] == command && (interfaceName.empty() || request.Interface == interfaceName)) ++count;
    }
    return count;
  }

  CScriptedUserInterface m_ui;
  std::unique_ptr<CNetNamespace> m_pc;
  std::unique_ptr<CNetNamespace> m_unit;
  std::unique_ptr<CSimDiscoveryResponder> m_responder;
  std::vector<std::string> m_interfaces;
  std::string m_skip;
};

TEST_F(DiscoveryInNamespaces, TwoInterfacesSendFourRequestsAndAUnitOnBothIsListedOnce) {
  Make(true);
  if (!m_skip.empty()) GTEST_SKIP() << m_skip;
  StartUnit();
  CRecordingSink sink;
  CUdpDiscovery discovery(&sink);
  Search(discovery, 7720, false);
  m_responder->Stop();

  EXPECT_EQ(RequestsWithCommand(0x80), 4u);
  EXPECT_EQ(RequestsWithCommand(0x80, "unit0"), 2u) << "each broadcast leaves through its own interface";
  EXPECT_EQ(RequestsWithCommand(0x80, "unit1"), 2u);
  ASSERT_EQ(discovery.Devices().size(), 1u);
  const CSocketDeviceInfo& found = discovery.Device(0);
  EXPECT_EQ(found.HardwareAddressText(), "02-00-00-00-77-20");
  EXPECT_EQ(found.IpText(), "10.71.1.2");
  EXPECT_EQ(found.DeviceType, 7720);
  EXPECT_NE(sink.text_.find("Searching devices at address #2: 10.71.2.1\n"), std::string::npos) << sink.text_;
  EXPECT_NE(sink.text_.find("Name: ZT7720-4K\n"), std::string::npos);
  EXPECT_NE(sink.text_.find("Receive timeout.\n"), std::string::npos);
  EXPECT_THROW(discovery.Device(1), std::out_of_range);
  EXPECT_EQ(m_ui.waitCursorDepth, 0);
}

TEST_F(DiscoveryInNamespaces, OnlyAnnouncementsAreRecordedAndABadHeaderEndsThePass) {
  Make(false);
  if (!m_skip.empty()) GTEST_SKIP() << m_skip;
  StartUnit();
  CSimUnitIdentity other = Identity();
  other.HardwareAddress[5] = 0x99;
  // Read on the responder's thread, which may still answer the first search's last request
  // when the second search is set up.
  std::atomic<bool> badHeaderFirst{false};
  m_responder->SetReplyRule([&, other](const CSimDiscoveryResponder::Datagram&, const std::string&) {
    CSimDiscoveryResponder::Datagram notAnnouncement = m_responder->Announcement();
    notAnnouncement[3] = 0x92;
    CSimDiscoveryResponder::Datagram badHeader = CSimDiscoveryResponder::Announcement(other);
    badHeader[0] = 'Z';
    if (!badHeaderFirst) return std::vector{notAnnouncement, m_responder->Announcement()};
    return std::vector{badHeader, CSimDiscoveryResponder::Announcement(other)};
  });
  CRecordingSink sink;
  CUdpDiscovery discovery(&sink);
  Search(discovery, 7720, false);
  ASSERT_EQ(discovery.Devices().size(), 1u);
  EXPECT_EQ(discovery.Device(0).HardwareAddressText(), "02-00-00-00-77-20");
  EXPECT_NE(sink.text_.find("Invalid response.\n"), std::string::npos);

  badHeaderFirst = true;
  sink.text_.clear();
  Search(discovery, 7720, true);
  EXPECT_EQ(discovery.Devices().size(), 1u) << "the announcement behind the bad header is not read";
  EXPECT_NE(sink.text_.find("Invalid header: Z"), std::string::npos) << sink.text_;
  EXPECT_EQ(sink.text_.find("Receive timeout."), std::string::npos) << "the pass ended at the header";
  m_responder->Stop();
}

TEST_F(DiscoveryInNamespaces, ASearchWithoutKeepListEmptiesTheListAndIdentifyNamesTheUnit) {
  Make(false);
  if (!m_skip.empty()) GTEST_SKIP() << m_skip;
  StartUnit();
  CUdpConnectDlg dialog(7720, 7719);
  dialog.address = "0.0.0.0";
  ASSERT_TRUE(m_pc->RunInside([&] { dialog.FindDevices(); }));
  ASSERT_EQ(dialog.ListItems(), std::vector<std::string>{"ZT7720-4K (10.71.1.2)"});
  EXPECT_FALSE(dialog.IsIdentifyEnabled());
  dialog.Select(0);
  EXPECT_TRUE(dialog.IsIdentifyEnabled());
  EXPECT_EQ(dialog.address, "10.71.1.2");
  ASSERT_TRUE(m_pc->RunInside([&] { dialog.Identify(); }));

  m_responder->SetReplyRule([](const CSimDiscoveryResponder::Datagram&, const std::string&) {
    return std::vector<CSimDiscoveryResponder::Datagram>{};
  });
  Search(dialog.Discovery(), 7720, true);
  EXPECT_EQ(dialog.Discovery().Devices().size(), 1u) << "keepList keeps what was found";
  Search(dialog.Discovery(), 7720, false);
  EXPECT_TRUE(dialog.Discovery().Devices().empty());
  m_responder->Stop();

  ASSERT_EQ(RequestsWithCommand(0x81), 1u);
  for (const auto& request : m_responder->Requests()) {
    if (request.Bytes[3] != 0x81) continue;
    EXPECT_EQ(request.Bytes[6], 0x02);
    EXPECT_EQ(request.Bytes[10], 0x77);
    EXPECT_EQ(request.Bytes[11], 0x20);
    EXPECT_EQ(request.Bytes[4], 0);
  }
}

TEST(UdpConnectDlg, OkValidatesTheAddressAndConfigurationStaysHidden) {
  CScriptedUserInterface ui;
  CUdpConnectDlg updaterDialog(7720, 7719);
  updaterDialog.configurationAllowed = false;
  EXPECT_FALSE(updaterDialog.IsConfigurationVisible());
  EXPECT_FALSE(CUdpConnectDlg(7720, 0).IsConfigurationVisible());
  EXPECT_TRUE(CUdpConnectDlg(7720, 7719).IsConfigurationVisible());

  // The preset 0.0.0.0, in any of its numeric forms, is no address: it would reach this computer.
  for (const char* none : {"", "0.0.0.0", "0", "::"}) {
    ui.ClearRecord();
    EXPECT_EQ(updaterDialog.PressOk(none), std::nullopt) << none;
    EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{"Please enter the server address (Name or IP)!"}) << none;
  }
  EXPECT_FALSE(IsUnspecifiedAddress("0.0.0.1"));
  EXPECT_FALSE(IsUnspecifiedAddress("localhost"));
  EXPECT_EQ(updaterDialog.PressOk("127.0.0.1"), IDOK);
  EXPECT_EQ(updaterDialog.address, "127.0.0.1");
  updaterDialog.Identify();  // nothing selected: nothing sent
  EXPECT_EQ(updaterDialog.Cancel(), IDCANCEL);
  EXPECT_EQ(updaterDialog.Text(0), "Connect");
}

// A name lookup inside a namespace has no server to ask, so nothing leaves the machine.
TEST_F(DiscoveryInNamespaces, AnAddressThatDoesNotResolveShowsTheSystemsText) {
  Make(false);
  if (!m_skip.empty()) GTEST_SKIP() << m_skip;
  CUdpConnectDlg dialog(7720, 7719);
  std::optional<int> result;
  ASSERT_TRUE(m_pc->RunInside([&] { result = dialog.PressOk("no-such-unit.invalid"); }));
  EXPECT_EQ(result, std::nullopt);
  ASSERT_EQ(m_ui.MessageTexts().size(), 1u);
  EXPECT_FALSE(m_ui.MessageTexts()[0].empty());
}

// The terminal's Connect prompts: a search, the list, and a number picks the unit.
TEST_F(DiscoveryInNamespaces, OnATerminalTheConnectDialogIsAskedAsPrompts) {
  Make(false);
  if (!m_skip.empty()) GTEST_SKIP() << m_skip;
  StartUnit();
  std::string input = "x\n1\n";  // "x" does not resolve, then the first unit listed
  ConsoleSession session;
  session.streams.in = fmemopen(input.data(), input.size(), "r");
  session.streams.err = std::tmpfile();
  session.streams.out = std::tmpfile();
  session.streams.inIsTerminal = true;
  CConsoleUserInterface ui(session);
  CUdpConnectDlg dialog(7720, 7719);
  dialog.port = 502;
  int result = 0;
  ASSERT_TRUE(m_pc->RunInside([&] { result = ui.RunConnectDialog(dialog); }));
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(dialog.address, "10.71.1.2");
  EXPECT_EQ(dialog.port, 502);
  std::rewind(session.streams.err);
  std::string shown;
  for (int c; (c = std::fgetc(session.streams.err)) != EOF;) shown += static_cast<char>(c);
  EXPECT_NE(shown.find("[1] ZT7720-4K (10.71.1.2)"), std::string::npos) << shown;
  EXPECT_EQ(m_ui.MessageTexts().size(), 1u) << "the name that does not resolve is named";
  std::fclose(session.streams.in);
  std::fclose(session.streams.err);
  std::fclose(session.streams.out);
  m_responder->Stop();
}
