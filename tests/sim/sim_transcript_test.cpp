#include "sim/sim_transcript.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "sim/scripted_sim_device.h"
#include "sim_test_support.h"

namespace {

using namespace std::chrono_literals;

TEST_F(SimBusTest, TranscriptHoldsEveryFrameAndEventOnTheClockInUse) {
  m_bus->SetTranscriptDirectory(m_folder / "transcripts");
  m_clock.Advance(5000);
  auto& device = m_bus->Plug<CScriptedSimDevice>(Setup(0x1184, ESimGeneration::First, "A1"));
  device.AddRule("02", "'AB'~300'C'");
  CSimDeviceServer& server = *m_bus->ServerOf(device);
  CRawUsbPeer host;
  ASSERT_TRUE(host.Connect(server.SocketPath()));
  host.SendFrame({0x02});
  EXPECT_EQ(host.ReceiveFrame(), Bytes("AB"));
  EXPECT_EQ(host.ReceiveFrame(), Bytes("C"));
  host.Close();
  ASSERT_TRUE(device.Transcript().WaitForCount(ESimEvent::HostClose, 1, 5s));

  struct Expected {
    std::uint64_t time;
    ESimEvent event;
    std::vector<std::uint8_t> bytes;
  } expected[] = {{5000, ESimEvent::Connect, {}},
                  {5000, ESimEvent::Out, {0x02}},
                  {5000, ESimEvent::In, Bytes("AB")},
                  {5300, ESimEvent::In, Bytes("C")},
                  {5300, ESimEvent::HostClose, {}}};
  auto entries = device.Transcript().Entries();
  ASSERT_EQ(entries.size(), std::size(expected));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].Time, expected[i].time) << i;
    EXPECT_EQ(entries[i].Event, expected[i].event) << i;
    EXPECT_EQ(entries[i].Bytes, expected[i].bytes) << i;
    EXPECT_EQ(entries[i].Connection, 1u) << i;
  }

  // The file tavrix-devsim writes: a title, then the same lines, times from the first entry.
  std::ifstream file(m_folder / "transcripts" / (server.DevicePath() + ".transcript"));
  std::stringstream text;
  text << file.rdbuf();
  // Past the title, lines led by "#" are remarks for the reader (the counts at a connection's
  // end), not entries.
  std::string lines;
  std::istringstream file_lines(text.str());
  for (std::string line; std::getline(file_lines, line);) {
    if (!line.starts_with("# ")) lines += line + "\n";
  }
  EXPECT_TRUE(text.str().starts_with("# transcript of " + server.DevicePath() + "\n"));
  EXPECT_EQ(lines, device.Transcript().Text());
  EXPECT_EQ(device.Transcript().Text(),
            "       0 ms  #1   connect\n"
            "       0 ms  #1   out             1  02  |.|\n"
            "       0 ms  #1   in              2  41 42  |AB|\n"
            "     300 ms  #1   in              1  43  |C|\n"
            "     300 ms  #1   host-close\n");
}

TEST(SimTranscript, NotesAndDeviceWideEventsFormatWithTheirText) {
  CSimTranscriptEntry note{1250, 0, ESimEvent::Note, {}, "fault: stalled after 2 bytes received"};
  EXPECT_EQ(CSimTranscript::FormatEntry(note, 1000),
            "     250 ms  #0   note         fault: stalled after 2 bytes received");
  CSimTranscriptEntry empty{1000, 3, ESimEvent::In, {}, {}};
  EXPECT_EQ(CSimTranscript::FormatEntry(empty, 1000), "       0 ms  #3   in              0");
}

}  // namespace
