// End to end: tavrix-update-cli updates simulated ZT7720 units reached by address on loopback,
// and found by discovery between two network namespaces; `discover` lists them. The units
// run in this process so that the blocks they received are compared with the image.

#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"
#include "sim/devices/zt7720/sim_zt7720.h"
#include "sim/firmware_version_tag.h"
#include "support/cli_end_to_end.h"
#include "support/image_files.h"
#include "support/json_objects.h"
#include "support/net_namespace.h"

using image_test::HexLine;

class UpdateZt7720EndToEnd : public CliEndToEndTest {
 protected:
  UpdateZt7720EndToEnd() {
    // Two blocks with data: 0x00000 and 0x03000, the second ending in the version 2.00 that a
    // unit reports once it has the image.
    std::string hex;
    const std::string tag = FirmwareVersionTag(200);
    for (unsigned address : {0x0000u, 0x0010u, 0x3000u, 0x3010u}) {
      std::vector<std::uint8_t> data(16);
      for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(address / 16 + i);
      if (address == 0x3010u) data.assign(tag.begin(), tag.end());
      hex += HexLine(0, address, data) + "\n";
      m_expected[address & ~0xFFFu].insert(m_expected[address & ~0xFFFu].end(), data.begin(), data.end());
    }
    m_folder.Write("firmware/unit.hex", hex + HexLine(1, 0, {}) + "\n");
    m_catalog = m_folder.Write(
        "tavrix-update.config",
        "<Config><Devices>"
        "<Device Id=\"ZT-4K\" RTC=\"CUpdater5R\" USBPID=\"0\"><Name>ZT7720-4K</Name><Firmware><Version>200</Version>"
        "<File>firmware\\unit.hex</File></Firmware></Device>"
        "<Device Id=\"ZT-4M\" RTC=\"CUpdater5S\" USBPID=\"0\"><Name>ZT7720-4M</Name><Firmware><Version>200</Version>"
        "<File>firmware\\unit.hex</File></Firmware></Device>"
        "</Devices></Config>");
  }

  CSimZt7720& StartUnit(CSimZt7720Setup setup) {
    setup.Port = 0;
    m_unit = std::make_unique<CSimZt7720>(setup);
    m_unit->Start();
    return *m_unit;
  }
  void ExpectImageReceived() const {
    std::vector<CSimZt7720::Block> blocks = m_unit->Blocks();
    ASSERT_EQ(blocks.size(), 2u);
    for (const auto& block : blocks) {
      const std::vector<std::uint8_t>& expected = m_expected.at(block.Address);
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), block.Data.begin())) << block.Address;
      EXPECT_TRUE(std::all_of(block.Data.begin() + static_cast<long>(expected.size()), block.Data.end(),
                              [](std::uint8_t b) { return b == 0xFF; }));
    }
    EXPECT_EQ(blocks[0].Address, 0x0000u);
    EXPECT_EQ(blocks[1].Address, 0x3000u);
    EXPECT_TRUE(m_unit->WaitForEnds(1));
  }

  std::map<std::uint32_t, std::vector<std::uint8_t>> m_expected;
  std::unique_ptr<CSimZt7720> m_unit;
};

TEST_F(UpdateZt7720EndToEnd, BothUpdatersProgramAUnitReachedByAddress) {
  for (auto [id, type] : {std::pair{"ZT-4K", 7720}, std::pair{"ZT-4M", 7721}}) {
    SCOPED_TRACE(id);
    StartUnit({.DeviceType = static_cast<std::uint16_t>(type), .FirmwareVersion = 150});
    Run run = Cli(FormatText("update %s --address 127.0.0.1:%u", id, m_unit->Port()));
    EXPECT_EQ(run.status, 0) << run.output;
    ExpectImageReceived();
  }
}

TEST_F(UpdateZt7720EndToEnd, A4KUnitRefusesA5SUpdateAndARefusedBlockFailsTheUpdate) {
  StartUnit({.DeviceType = 7720});
  Run wrongModel = Cli(FormatText("update ZT-4M --address 127.0.0.1:%u", m_unit->Port()));
  EXPECT_EQ(wrongModel.status, 3) << wrongModel.output;
  EXPECT_NE(wrongModel.output.find("No interface \"ZT7720-4M\""), std::string::npos) << wrongModel.output;

  StartUnit({.DeviceType = 7720, .Faults = {.RefusedAcknowledgements = {2}}});
  Run refused = Cli(FormatText("update ZT-4K --address=127.0.0.1:%u", m_unit->Port()));
  // The refusal raises 20016 out of Update; its text is printed under the program's name,
  // then the done page's failure text.
  EXPECT_EQ(refused.status, 1) << refused.output;
  EXPECT_NE(refused.output.find("Programming segment 3 at 03000"), std::string::npos) << refused.output;
  EXPECT_NE(refused.output.find(LoadResString(38)), std::string::npos) << refused.output;
  const std::string cause = ApplicationName() + ": " + LoadResString(20016) + "\n";
  EXPECT_NE(refused.output.find(cause), std::string::npos) << refused.output;
  EXPECT_LT(refused.output.find(cause), refused.output.find(LoadResString(38))) << refused.output;

  Run usage = Cli("update ZT-4K --address");
  EXPECT_EQ(usage.status, 2) << usage.output;
}

TEST_F(UpdateZt7720EndToEnd, AUnitLostInTheMiddleOfTheUpdateIsNamedAsTheCause) {
  StartUnit({.DeviceType = 7720, .DropAtBlock = 2});
  Run dropped = Cli(FormatText("update ZT-4K --address=127.0.0.1:%u", m_unit->Port()));
  EXPECT_EQ(dropped.status, 1) << dropped.output;
  const std::string cause = ApplicationName() + ": " + LoadResString(20020) + "\n";
  EXPECT_NE(dropped.output.find(cause), std::string::npos) << dropped.output;
  EXPECT_LT(dropped.output.find(cause), dropped.output.find(LoadResString(38))) << dropped.output;
}

TEST_F(UpdateZt7720EndToEnd, TheUnspecifiedAddressIsRefusedAsAWrongCommandLine) {
  Run run = Cli("update ZT-4K --address 0.0.0.0:502");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find(LoadResString(20019)), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("--address: refused: 0.0.0.0:502"), std::string::npos) << run.output;
}

TEST_F(UpdateZt7720EndToEnd, AfterASuccessTheTerminalNamesTheUnitAndItsFirmware) {
  StartUnit({.DeviceType = 7720, .FirmwareVersion = 150});
  Run run = Cli(FormatText("update ZT-4K --address 127.0.0.1:%u", m_unit->Port()));
  EXPECT_EQ(run.status, 0) << run.output;
  // The unit was met again after its programming and reported the new firmware.
  EXPECT_NE(run.output.find(FormatMessage(LoadResString(23750), {"ZT-4K", "2.00"})), std::string::npos) << run.output;
}

TEST_F(UpdateZt7720EndToEnd, TheSimulatorServesAUnitOnLoopback) {
  CDevSim devsim({"--net-unit", "zt7720:port=0,firmware=150"});
  std::optional<std::string> line = devsim.FirstLine();
  ASSERT_TRUE(line);
  std::size_t colon = line->rfind(':');
  ASSERT_NE(colon, std::string::npos) << *line;
  unsigned port = static_cast<unsigned>(std::stoul(line->substr(colon + 1)));
  Run run = Cli(FormatText("update ZT-4K --address 127.0.0.1:%u", port));
  EXPECT_EQ(run.status, 0) << run.output;
}

// The PC side and the unit side in namespaces of their own: the wizard's search finds the
// unit, and no datagram reaches a real network.
class Zt7720DiscoveryEndToEnd : public UpdateZt7720EndToEnd {
 protected:
  void SetUp() override {
    m_pc = std::make_unique<CNetNamespace>("e2e-pc");
    m_units = std::make_unique<CNetNamespace>("e2e-unit");
    if (!m_pc->Failure().empty()) GTEST_SKIP() << m_pc->Failure();
    if (!m_pc->Link(*m_units, "pc0", "10.72.1.1/24", "unit0", "10.72.1.2/24") ||
        !m_units->Ip("addr add 10.72.1.3/24 dev unit0")) {
      GTEST_SKIP() << m_pc->Failure() << m_units->Failure();
    }
  }
  void StartUnitInside(CSimZt7720Setup setup) {
    m_unit = std::make_unique<CSimZt7720>(setup);
    ASSERT_TRUE(m_units->RunInside([&] { m_unit->Start(); }));
  }
  Run CliInPc(const std::string& args) const {
    return Execute("ip netns exec " + m_pc->Name() + " sh -c \"" + CliCommand(args) + "\"");
  }

  std::unique_ptr<CNetNamespace> m_pc;
  std::unique_ptr<CNetNamespace> m_units;
};

TEST_F(Zt7720DiscoveryEndToEnd, TheOnlyUnitOfTheTypeIsFoundAndProgrammedWithoutAnAddress) {
  StartUnitInside({.DeviceType = 7720, .FirmwareVersion = 150, .Address = "10.72.1.2", .Port = 502, .Discovery = true});
  std::unique_ptr<CSimZt7720> other = std::make_unique<CSimZt7720>(CSimZt7720Setup{
      .DeviceType = 7721, .Address = "10.72.1.3", .Port = 502, .Discovery = true,
      .HardwareAddress = {0x02, 0, 0, 0, 0x77, 0x21}});
  ASSERT_TRUE(m_units->RunInside([&] { other->Start(); }));

  Run discover = CliInPc("discover --type 7721");
  EXPECT_EQ(discover.status, 0) << discover.output;
  EXPECT_EQ(discover.output, "ZT7720-4M (10.72.1.3)\t02-00-00-00-77-21\t7721\n");
  Run json = CliInPc("--json discover --type 7721");
  EXPECT_EQ(json.output, "{\"type\":\"unit\",\"name\":\"ZT7720-4M\",\"address\":\"10.72.1.3\","
                         "\"hardware_address\":\"02-00-00-00-77-21\",\"device_type\":7721}\n");
  EXPECT_EQ(JsonOutputProblems(json.output), "");
  Run none = CliInPc("discover --type 7000");
  EXPECT_EQ(none.status, 3) << none.output;
  EXPECT_EQ(none.output, "tavrix-update-cli: no device of type 7000 answered\n");

  Run run = CliInPc("update ZT-4K");
  EXPECT_EQ(run.status, 0) << run.output;
  ExpectImageReceived();
}

TEST_F(Zt7720DiscoveryEndToEnd, NoUnitExitsThreeAndSeveralUnitsAreListedWithExitTwo) {
  Run none = CliInPc("update ZT-4K");
  EXPECT_EQ(none.status, 3) << none.output;

  StartUnitInside({.DeviceType = 7720, .Address = "10.72.1.2", .Port = 502, .Discovery = true});
  CSimZt7720 second({.DeviceType = 7720, .Address = "10.72.1.3", .Port = 502, .Discovery = true, .Name = "Bench 2",
                     .HardwareAddress = {0x02, 0, 0, 0, 0x77, 0x30}});
  ASSERT_TRUE(m_units->RunInside([&] { second.Start(); }));
  Run several = CliInPc("update ZT-4K");
  EXPECT_EQ(several.status, 2) << several.output;
  EXPECT_NE(several.output.find("Bench 2 (10.72.1.3)"), std::string::npos) << several.output;
  second.Stop();
}
