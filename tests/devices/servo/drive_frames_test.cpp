#include "devices/servo/drive_script.h"

namespace {

using DriveFramesTest = DriveTest;

TEST_F(DriveFramesTest, SendFrameAlwaysUsesTheRequestIdentifierInOnePacket) {
  CanFrame frame;
  frame.Identifier = 0x123;  // not what goes out
  frame.Length = 3;
  for (std::uint8_t i = 0; i < 8; ++i) frame.Data[i] = static_cast<std::uint8_t>(0xA0 + i);
  m_script.Accept();
  m_script.Refuse();
  EXPECT_TRUE(m_drive.SendFrame(frame));
  EXPECT_FALSE(m_drive.SendFrame(frame));
  const Bytes packet = {0xC3, 0x06, 0x01, 0x03, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
  EXPECT_EQ(Memory().packets, (std::vector<Bytes>{packet, packet}));
}

TEST_F(DriveFramesTest, ReceiveFrameAsksWithTheTimeOutAndLeavesTheFrameAloneWithoutOne) {
  CanFrame frame;
  frame.Identifier = 0x777;
  frame.Length = 2;
  frame.Data[0] = 0x55;
  m_script.NoFrame();
  Memory().Answer({0xEE});  // whatever follows is not read as a frame
  EXPECT_FALSE(m_drive.ReceiveFrame(frame, CDrive::kReceiveTimeoutMs));
  EXPECT_EQ(frame.Identifier, 0x777);
  EXPECT_EQ(frame.Length, 2);
  EXPECT_EQ(frame.Data[0], 0x55);
  EXPECT_EQ(Memory().input.size(), 1u);
  EXPECT_EQ(Memory().packets, (std::vector<Bytes>{{0xC4, 0x03, 0xE8}}));

  Memory().input.clear();
  m_script.Frame({0x43, 0x69, 0x5F, 0x00, 1, 2, 3, 4}, 8);
  ASSERT_TRUE(m_drive.ReceiveFrame(frame, CDrive::kReceiveTimeoutMs));
  EXPECT_EQ(frame.Identifier, 0x0581);
  EXPECT_EQ(frame.Length, 8);
  EXPECT_EQ(Bytes(frame.Data, frame.Data + 8), (Bytes{0x43, 0x69, 0x5F, 0x00, 1, 2, 3, 4}));
}

TEST_F(DriveFramesTest, LinkCommandsAreAcceptedWithAnExclamationMark) {
  Memory().Answer({'!', '?', '!'});
  EXPECT_TRUE(m_drive.OpenDriveLink());
  EXPECT_FALSE(m_drive.OpenDriveLink());
  EXPECT_TRUE(m_drive.CloseDriveLink());
  EXPECT_EQ(Memory().written, (Bytes{0xC1, 0xC1, 0xC2}));
}

TEST_F(DriveFramesTest, WithoutAnOpenTransportNothingIsSentAndNothingSucceeds) {
  CDrive drive(m_log);
  CanFrame frame;
  EXPECT_FALSE(drive.OpenDriveLink());
  EXPECT_FALSE(drive.SendFrame(frame));
  EXPECT_FALSE(drive.ReceiveFrame(frame, CDrive::kReceiveTimeoutMs));
}

TEST_F(DriveFramesTest, SelectNodeTakesTheLowByteAndFallsBackToNodeOne) {
  struct Case {
    int node;
    bool valid;
    std::uint16_t identifier;
  };
  const Case cases[] = {{1, true, 0x601}, {5, true, 0x605}, {127, true, 0x67F}, {0, false, 0x601},
                        {128, false, 0x601}, {255, false, 0x601}, {0x105, true, 0x605}, {-1, false, 0x601}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.node);
    Memory().packets.clear();
    EXPECT_EQ(m_drive.SelectNode(c.node), c.valid);
    m_script.Accept();
    m_drive.SendFrame(CanFrame{});
    ASSERT_EQ(Frames().size(), 1u);
    EXPECT_EQ(Frames()[0].Identifier, c.identifier);
  }
}

}  // namespace
