#include "sim/sim_faults.h"

#include <gtest/gtest.h>

#include "sim/scripted_sim_device.h"
#include "sim/sim_options.h"
#include "sim_test_support.h"

namespace {

using namespace std::chrono_literals;

// A device that acknowledges every byte 0x04 and answers 0x02 with its identity.
class SimFaultTest : public SimBusTest {
 protected:
  CSimDeviceServer& PlugAcknowledger(const CSimFaultPlan& faults) {
    CSimDeviceSetup setup = Setup(0x7D2A);
    setup.Faults = faults;
    return m_bus->Plug(std::make_unique<CTestSimDevice>(setup, [](CSimConnection& io) {
      while (true) {
        std::uint8_t command = io.ReadByte();
        if (command == 0x04) io.Acknowledge();
        if (command == 0x02) io.WriteString(io.Device().Identity("ZR6618-7D  own 107"));
      }
    }));
  }
  std::vector<std::uint8_t> Ask(CRawUsbPeer& host, std::uint8_t command) {
    host.SendFrame({command});
    return host.ReceiveFrame();
  }
};

TEST_F(SimFaultTest, RefusedAcknowledgementsAnswerQuestionMarkCountedOverConnections) {
  CSimFaultPlan plan;
  plan.RefusedAcknowledgements = {2, 4};
  CSimDeviceServer& server = PlugAcknowledger(plan);
  const std::vector<std::uint8_t> ok{0x21}, refused{0x3F};
  {
    CRawUsbPeer host;
    ASSERT_TRUE(host.Connect(server.SocketPath()));
    EXPECT_EQ(Ask(host, 0x04), ok);
    EXPECT_EQ(Ask(host, 0x04), refused);
  }
  CRawUsbPeer host;
  ASSERT_TRUE(host.Connect(server.SocketPath()));
  EXPECT_EQ(Ask(host, 0x04), ok);
  EXPECT_EQ(Ask(host, 0x04), refused);
  EXPECT_EQ(Ask(host, 0x04), ok);
  EXPECT_EQ(server.Device().Faults().Acknowledgements(), 5u);
  EXPECT_NE(server.Device().Transcript().Text().find("fault: acknowledgement 4 refused"),
            std::string::npos);
}

TEST_F(SimFaultTest, RefusalArmedLaterCountsFromThen) {
  CSimDeviceServer& server = PlugAcknowledger({});
  CRawUsbPeer host;
  ASSERT_TRUE(host.Connect(server.SocketPath()));
  EXPECT_EQ(Ask(host, 0x04), std::vector<std::uint8_t>{0x21});
  server.Device().Faults().RefuseAcknowledgement(1);
  EXPECT_EQ(Ask(host, 0x04), std::vector<std::uint8_t>{0x3F});
  EXPECT_EQ(Ask(host, 0x04), std::vector<std::uint8_t>{0x21});
}

TEST_F(SimFaultTest, CloseAfterBytesDropsTheConnectionOnceTheBytesAreIn) {
  CSimFaultPlan plan;
  plan.CloseAfterBytes = 3;
  CSimDeviceServer& server = PlugAcknowledger(plan);
  CRawUsbPeer host;
  ASSERT_TRUE(host.Connect(server.SocketPath()));
  host.SendFrame({0x04, 0x00});
  EXPECT_EQ(host.ReceiveFrame(), std::vector<std::uint8_t>{0x21});
  host.SendFrame({0x04, 0x00});  // bytes 3 and 4: dropped before any answer
  std::vector<std::uint8_t> frame;
  EXPECT_EQ(host.Receive(frame), CRawUsbPeer::EReceive::Closed);
  EXPECT_EQ(server.Device().Transcript().Count(ESimEvent::In), 1u);

  // It fired once: the next connection is served in full.
  CRawUsbPeer again;
  ASSERT_TRUE(again.Connect(server.SocketPath()));
  EXPECT_EQ(Ask(again, 0x04), std::vector<std::uint8_t>{0x21});
  EXPECT_EQ(Ask(again, 0x04), std::vector<std::uint8_t>{0x21});
}

TEST_F(SimFaultTest, StalledDeviceReadsOnButAnswersNothingUntilTheHostCloses) {
  CSimFaultPlan plan;
  plan.StallAfterBytes = 2;
  CSimDeviceServer& server = PlugAcknowledger(plan);
  CSimTranscript& transcript = server.Device().Transcript();
  CRawUsbPeer host;
  ASSERT_TRUE(host.Connect(server.SocketPath()));
  EXPECT_EQ(Ask(host, 0x04), std::vector<std::uint8_t>{0x21});
  host.SendFrame({0x04});  // the second byte: stalled from here
  auto noted = [](const std::string& text) {
    return [text](const CSimTranscript::Entries_t& entries) {
      for (const auto& entry : entries) {
        if (entry.Text.find(text) != std::string::npos) return true;
      }
      return false;
    };
  };
  ASSERT_TRUE(transcript.WaitFor(noted("stalled: 1 bytes not sent"), 5s));
  EXPECT_FALSE(host.HasPendingData());
  // What the host sends still crosses the wire: the device keeps reading.
  host.SendFrame(std::vector<std::uint8_t>(200, 0x04));
  ASSERT_TRUE(transcript.WaitForCount(ESimEvent::Out, 3, 5s));
  EXPECT_FALSE(host.HasPendingData());
  host.Close();
  ASSERT_TRUE(transcript.WaitForCount(ESimEvent::HostClose, 1, 5s));

  CRawUsbPeer again;
  ASSERT_TRUE(again.Connect(server.SocketPath()));
  EXPECT_EQ(Ask(again, 0x04), std::vector<std::uint8_t>{0x21});
}

TEST_F(SimFaultTest, AnotherIdentityFromTheOptionsReplacesTheFamilysOwn) {
  CSimOptions options = ParseSimDeviceDescription("any:identity=\"ZR9046-3C  other 1\"").Options;
  CSimDeviceServer& server = PlugAcknowledger(options.TakeSetup({}).Faults);
  CRawUsbPeer host;
  ASSERT_TRUE(host.Connect(server.SocketPath()));
  EXPECT_EQ(Ask(host, 0x02), Bytes(std::string("ZR9046-3C  other 1") + '\0'));
  server.Device().Faults().Clear();
  EXPECT_EQ(Ask(host, 0x02), Bytes(std::string("ZR6618-7D  own 107") + '\0'));
}

}  // namespace
