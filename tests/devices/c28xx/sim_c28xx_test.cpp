// The simulated C28xx device driven frame by frame from the bus contract: what it answers, and
// that a host breaking the protocol is caught, so that the updater tests' "no violations"
// means something.

#include <gtest/gtest.h>

#include "sim/devices/c28xx/sim_c28xx.h"
#include "sim/sim_test_support.h"

namespace {

using namespace std::chrono_literals;
using Frames = std::vector<std::vector<std::uint8_t>>;

class SimC28xxTest : public SimUsbBusTest {
 protected:
  CSimC28xx& Plug(const std::string& options) {
    CSimC28xx& device = PlugDescribed<CSimC28xx>("c28xx:" + options);
    EXPECT_TRUE(m_host.Connect(m_server->SocketPath()));
    return device;
  }
  std::vector<std::uint8_t> Exchange(const std::vector<std::uint8_t>& frame) {
    m_host.SendFrame(frame);
    return m_host.ReceiveFrame();
  }

  CRawUsbPeer m_host;
};

TEST_F(SimC28xxTest, AnswersItsIdentityInBigEndianWordsAndTakesADownload) {
  CSimC28xx& device = Plug("id=ZT5503-1D,firmware=7");
  EXPECT_EQ(Exchange({0x00, 0x02}), (std::vector<std::uint8_t>{0, 'Z', 0, 'T', 0, '5', 0, '5', 0, '0', 0, '3', 0, '-',
                                                                0, '1', 0, 'D', 0, ' ', 0, '7', 0, 0}));
  m_host.SendFrame({0x00, 0x1E});
  EXPECT_EQ(Exchange({0x00, 0x1F, 0x00, 0x01, 0x00, 0x02}), (std::vector<std::uint8_t>{0x00, 0x00}));
  EXPECT_EQ(Exchange({0x00, 0x30, 0x40, 0x00, 0x00, 0x01, 0x00, 0x02}), (std::vector<std::uint8_t>{0x00, 0x21}));
  EXPECT_EQ(Exchange({0xEF, 0xBE}), (std::vector<std::uint8_t>{0x00, 0x00}));
  // A segment of erased words: no words, and the host's empty write.
  EXPECT_EQ(Exchange({0x00, 0x31, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}), (std::vector<std::uint8_t>{0x00, 0x21}));
  EXPECT_EQ(Exchange({}), (std::vector<std::uint8_t>{0x00, 0x00}));
  m_host.SendFrame({0x00, 0x21});
  ASSERT_TRUE(device.WaitForEndedDownloads(1, 5s));
  const CSimC28xxDownload download = device.Downloads()[0];
  EXPECT_TRUE(download.Complete);
  EXPECT_EQ(download.Segments,
            (std::vector<CSimC28xxSegment>{{0x304000, 1, 2, {0xEF, 0xBE}}, {0x310000, 0, 1, {}}}));
  EXPECT_TRUE(device.Violations().empty());
}

TEST_F(SimC28xxTest, AHostBreakingTheProtocolIsCaught) {
  struct Case {
    const char* name;
    Frames frames;  // sent after the identity question
    const char* violation;
  };
  const Case cases[] = {
      {"single-byte command", {{0x1E}}, "single-byte command 1E"},
      {"header without start", {{0x00, 0x1F, 0x00, 0x01, 0x00, 0x00}}, "without 00 1E"},
      {"header in two packets", {{0x00, 0x1E}, {0x00, 0x1F}, {0x00, 0x01, 0x00, 0x00}}, "not as one packet"},
      {"kind of another region",
       {{0x00, 0x1E}, {0x00, 0x1F, 0x00, 0x01, 0x00, 0x01}, {0x00, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02}},
       "kind 2 (the region's kind is 1)"},
      {"no region start",
       {{0x00, 0x1E}, {0x00, 0x1F, 0x00, 0x01, 0x00, 0x01}, {0x00, 0x30, 0x00, 0x10, 0x00, 0x00, 0x00, 0x01}},
       "no region start"},
      {"header cut in two",
       {{0x00, 0x1E}, {0x00, 0x1F, 0x00, 0x01, 0x00, 0x01}, {0x00, 0x30, 0x00, 0x00}, {0x00, 0x02, 0x00, 0x01}},
       "segment header of 4 bytes"},
      {"end before the segments", {{0x00, 0x1E}, {0x00, 0x1F, 0x00, 0x01, 0x00, 0x01}, {0x00, 0x21}},
       "before every announced segment"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSimC28xx& device = Plug("serial=C" + std::to_string(&c - cases));
    Exchange({0x00, 0x02});
    for (const auto& frame : c.frames) m_host.SendFrame(frame);
    ASSERT_TRUE(device.Transcript().WaitFor(
        [&](const auto&) { return !device.Violations().empty(); }, 5s));
    EXPECT_NE(device.Violations()[0].find(c.violation), std::string::npos) << device.Violations()[0];
    m_host.Close();
    m_bus->Unplug(*m_server);
  }
}

}  // namespace
