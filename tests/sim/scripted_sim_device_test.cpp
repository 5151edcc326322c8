#include "sim/scripted_sim_device.h"

#include <gtest/gtest.h>

#include "sim/sim_device_registry.h"
#include "sim/sim_error.h"
#include "sim_test_support.h"

namespace {

using namespace std::chrono_literals;
using ByteList = std::vector<std::uint8_t>;

TEST(ScriptedRule, ByteScriptsReadHexTextAndEscapes) {
  const std::pair<const char*, ByteList> cases[] = {
      {"1F 0a", {0x1F, 0x0A}},
      {"1f0A", {0x1F, 0x0A}},
      {"'AB'00", {0x41, 0x42, 0x00}},
      {R"('a\'b\x41\0\\')", {0x61, 0x27, 0x62, 0x41, 0x00, 0x5C}},
      {"'a>b, c'", {0x61, 0x3E, 0x62, 0x2C, 0x20, 0x63}},
      {"", {}},
  };
  for (const auto& [script, bytes] : cases) EXPECT_EQ(ParseSimBytes(script), bytes) << script;
  for (const char* bad : {"1", "1G", "'abc", R"('\q')", "!", "*", "0x12"}) {
    EXPECT_THROW(ParseSimBytes(bad), CSimError) << bad;
  }
}

TEST(ScriptedRule, RulesSplitAtTheFirstArrowOutsideText) {
  CScriptedRule rule = CScriptedRule::Parse("04 *4 '>'>!|~300 'a>b'00");
  const int any = CScriptedRule::kAnyByte;
  EXPECT_EQ(rule.Match, (std::vector<int>{0x04, any, any, any, any, 0x3E}));
  using K = CScriptedStep::EKind;
  ASSERT_EQ(rule.Reply.size(), 4u);
  EXPECT_EQ(rule.Reply[0].Kind, K::Acknowledge);
  EXPECT_EQ(rule.Reply[1].Kind, K::PacketEnd);
  EXPECT_EQ(rule.Reply[2].Kind, K::Wait);
  EXPECT_EQ(rule.Reply[2].Milliseconds, 300u);
  EXPECT_EQ(rule.Reply[3].Bytes, (ByteList{'a', '>', 'b', 0}));
  EXPECT_TRUE(CScriptedRule::Parse("10>").Reply.empty());
  for (const char* bad : {"0210", ">21", "02>~", "02>*", "*0>21"}) {
    EXPECT_THROW(CScriptedRule::Parse(bad), CSimError) << bad;
  }
}

class ScriptedDeviceTest : public SimBusTest {
 protected:
  CScriptedSimDevice& Plug(std::initializer_list<std::pair<const char*, const char*>> rules) {
    auto& device = m_bus->Plug<CScriptedSimDevice>(Setup(0x4C17));
    for (const auto& [match, reply] : rules) device.AddRule(match, reply);
    EXPECT_TRUE(m_host.Connect(m_bus->ServerOf(device)->SocketPath()));
    return device;
  }
  CRawUsbPeer m_host;
};

TEST_F(ScriptedDeviceTest, UnmatchedBytesAreDroppedFromTheFrontAndReported) {
  CScriptedSimDevice& device = Plug({{"01 02 03", "'A'"}, {"02", "'B'"}, {"04 *2 05", "'C'"}});
  m_host.SendFrame({0x01, 0x02, 0x09});  // 01 02 starts A, 09 ends it: 01 goes, 02 is B, 09 goes
  EXPECT_EQ(m_host.ReceiveFrame(), Bytes("B"));
  m_host.SendFrame({0x04, 0xAA});
  m_host.SendFrame({0xBB, 0x05});
  EXPECT_EQ(m_host.ReceiveFrame(), Bytes("C"));
  m_host.SendFrame({0x01, 0x02, 0x03});
  EXPECT_EQ(m_host.ReceiveFrame(), Bytes("A"));
  EXPECT_EQ(device.Violations(),
            (std::vector<std::string>{"no rule for 1 byte(s): 01", "no rule for 1 byte(s): 09"}));
}

TEST_F(ScriptedDeviceTest, BlockOfAnyBytesIsAcknowledgedThroughTheFaultPlan) {
  CScriptedSimDevice& device = Plug({{"04 *4 10 00", "!"}, {"*4096", "~300!"}});
  device.Faults().RefuseAcknowledgement(2);
  m_host.SendFrame({0x04, 0x00, 0x01, 0x20, 0x00, 0x10, 0x00});
  EXPECT_EQ(m_host.ReceiveFrame(), ByteList{0x21});
  for (int chunk = 0; chunk < 16; ++chunk) m_host.SendFrame(ByteList(256, 0xFF));
  EXPECT_EQ(m_host.ReceiveFrame(), ByteList{0x3F});
  EXPECT_EQ(m_clock.Waits(), std::vector<std::uint32_t>{300});
  EXPECT_TRUE(device.Violations().empty());
}

TEST_F(ScriptedDeviceTest, AcknowledgementInsideAReplyTravelsInItsPacket) {
  Plug({{"'Z'", "'OK'!||"}});
  m_host.SendFrame(Bytes("Z"));
  EXPECT_EQ(m_host.ReceiveFrame(), Bytes("OK!"));
  EXPECT_EQ(m_host.ReceiveFrame(),
            ByteList{});  // the second "|" had nothing to send: an empty packet
}

TEST(SimDeviceRegistry, CreatesScriptedDevicesFromTheirOptions) {
  CSimDeviceRegistry& registry = CSimDeviceRegistry::Instance();
  auto device = registry.Create(ParseSimDeviceDescription(
      "scripted:pid=0x7d2a,gen=1,name=\"Demo, box\",serial=A1,rule=02>'ZR6618-7D'00,rule=0B>03"));
  EXPECT_EQ(device->Address().DevicePath(),
            "usb#vid_7a3c&pid_7d2a#A1#{0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4}");
  EXPECT_EQ(device->FriendlyName(), "Demo, box");
  EXPECT_EQ(static_cast<CScriptedSimDevice&>(*device).RuleCount(), 2u);

  const std::pair<const char*, const char*> errors[] = {
      {"nosuch:pid=1", "unknown device kind \"nosuch\""},
      {"scripted:pid=1,colour=red", "device kind scripted has no option colour"},
      {"scripted:gen=2", "a scripted device needs pid="},
      {"scripted:pid=1,rule=02", "a rule is MATCH>REPLY"},
  };
  for (const auto& [description, message] : errors) {
    try {
      registry.Create(ParseSimDeviceDescription(description));
      ADD_FAILURE() << description;
    } catch (const CSimError& error) {
      EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
    }
  }
}

}  // namespace
