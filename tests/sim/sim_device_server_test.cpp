#include "sim/sim_device_server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "sim/scripted_sim_device.h"
#include "sim/sim_error.h"
#include "sim_test_support.h"

namespace {

using namespace std::chrono_literals;

bool IsSocket(const std::filesystem::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

std::string FirstLine(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

std::vector<ESimEvent> Events(const CSimTranscript& transcript) {
  std::vector<ESimEvent> events;
  for (const auto& entry : transcript.Entries()) events.push_back(entry.Event);
  return events;
}

TEST_F(SimBusTest, DeviceSitsUnderItsDevicePathWithItsFriendlyName) {
  struct Case {
    ESimGeneration generation;
    std::uint16_t pid;
    const char* serial;
    std::optional<std::string> name;
    const char* path;
  } cases[] = {
      {ESimGeneration::First, 0x7D2A, "Q1", "Tavrix Quadrel Interface",
       "usb#vid_7a3c&pid_7d2a#Q1#{0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4}"},
      {ESimGeneration::Second, 0x004B, "a-b_9", std::nullopt,
       "usb#vid_7a3c&pid_004b#a-b_9#{5b1e2c47-9d03-4a6f-8e21-3c7d90b4f152}"},
  };
  for (const Case& c : cases) {
    CSimDeviceSetup setup = Setup(c.pid, c.generation, c.serial);
    setup.FriendlyName = c.name;
    CSimDeviceServer& server = m_bus->Plug(std::make_unique<CScriptedSimDevice>(setup));
    std::filesystem::path socket = m_bus->Directory() / c.path;
    EXPECT_EQ(server.DevicePath(), c.path);
    EXPECT_TRUE(IsSocket(socket)) << c.path;
    EXPECT_EQ(std::filesystem::exists(socket.string() + ".name"), c.name.has_value()) << c.path;
    if (c.name) {
      EXPECT_EQ(FirstLine(socket.string() + ".name"), *c.name);
    }
  }
  // Nothing but the sockets and the name file: no side files left over.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_bus->Directory()),
                          std::filesystem::directory_iterator()),
            3);
}

TEST_F(SimBusTest, DeviceWithoutSerialGetsOneFromTheBus) {
  CSimDeviceSetup setup = Setup(0x1234);
  setup.Address.Serial.clear();
  CSimDeviceServer& first = m_bus->Plug(std::make_unique<CScriptedSimDevice>(setup));
  CSimDeviceServer& second = m_bus->Plug(std::make_unique<CScriptedSimDevice>(setup));
  EXPECT_EQ(first.Device().Address().Serial, "SIM1");
  EXPECT_EQ(second.Device().Address().Serial, "SIM2");
}

TEST_F(SimBusTest, ProbeOpenRunsNoProgramAndTheNextOpenIsServed) {
  std::atomic<int> runs{0};
  auto& server =
      m_bus->Plug(std::make_unique<CTestSimDevice>(Setup(0x1184), [&](CSimConnection& io) {
        ++runs;
        io.WriteBytes(io.ReadBytes(1));
      }));
  CRawUsbPeer probe;
  ASSERT_TRUE(probe.Connect(server.SocketPath()));
  probe.Close();
  ASSERT_TRUE(server.Device().Transcript().WaitForCount(ESimEvent::HostClose, 1, 5s));

  CRawUsbPeer host;
  ASSERT_TRUE(host.Connect(server.SocketPath()));
  host.SendFrame({0x02});
  EXPECT_EQ(host.ReceiveFrame(), std::vector<std::uint8_t>{0x02});
  EXPECT_EQ(runs, 1);
  auto entries = server.Device().Transcript().Entries();
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[0].Event, ESimEvent::Connect);
  EXPECT_EQ(entries[0].Connection, 1u);
  EXPECT_EQ(entries[1].Event, ESimEvent::HostClose);
  EXPECT_EQ(entries[1].Connection, 1u);
}

TEST_F(SimBusTest, WritesLeaveAsPacketsOfAtMost64Bytes) {
  std::string text(70, 'x');
  auto& server =
      m_bus->Plug(std::make_unique<CTestSimDevice>(Setup(0x1184), [&](CSimConnection& io) {
        while (true) {
          switch (io.ReadByte()) {
            case 1:
              io.WriteBytes(Bytes(text));
              break;
            case 2:
              io.WriteString("ZR6618-7D");
              break;
            case 3:
              io.WritePacket({});
              io.WriteBytes({});
              io.WritePacket(Bytes("ab"));
              break;
          }
        }
      }));
  CRawUsbPeer host;
  ASSERT_TRUE(host.Connect(server.SocketPath()));
  host.SendFrame({1, 2, 3});
  EXPECT_EQ(host.ReceiveFrame(), Bytes(text.substr(0, 64)));
  EXPECT_EQ(host.ReceiveFrame(), Bytes(text.substr(64)));
  EXPECT_EQ(host.ReceiveFrame(), Bytes(std::string("ZR6618-7D") + '\0'));
  EXPECT_EQ(host.ReceiveFrame(), std::vector<std::uint8_t>{});  // an empty packet is a frame
  EXPECT_EQ(host.ReceiveFrame(), Bytes("ab"));                  // no bytes make no packet
}

TEST_F(SimBusTest, OverlongPacketIsAProgrammingErrorNotAFrame) {
  auto& server =
      m_bus->Plug(std::make_unique<CTestSimDevice>(Setup(0x1184), [&](CSimConnection& io) {
        io.ReadByte();
        io.WritePacket(std::vector<std::uint8_t>(65, 0));
      }));
  CRawUsbPeer host;
  ASSERT_TRUE(host.Connect(server.SocketPath()));
  host.SendFrame({1});
  EXPECT_TRUE(host.WaitClosed());
  EXPECT_NE(server.Device().Transcript().Text().find("device program failed"), std::string::npos);
  EXPECT_EQ(server.Device().Transcript().Count(ESimEvent::In), 0u);
}

TEST_F(SimBusTest, HostFramesAreOneByteStreamWhateverTheirChunks) {
  auto& server =
      m_bus->Plug(std::make_unique<CTestSimDevice>(Setup(0x1184), [&](CSimConnection& io) {
        while (true) {
          std::vector<std::uint8_t> header = io.ReadBytes(5);
          io.WriteBytes(header);
        }
      }));
  CRawUsbPeer host;
  ASSERT_TRUE(host.Connect(server.SocketPath()));
  host.SendFrame({0x1F});
  host.SendFrame({0x01, 0x02});
  host.SendFrame({});
  host.SendFrame({0x00, 0x01});
  EXPECT_EQ(host.ReceiveFrame(), (std::vector<std::uint8_t>{0x1F, 0x01, 0x02, 0x00, 0x01}));
  // One frame written to the socket in pieces, header split too.
  host.SendRaw({0x05});
  host.SendRaw({0x00, 0xAA, 0xBB});
  host.SendRaw({0xCC, 0xDD, 0xEE});
  EXPECT_EQ(host.ReceiveFrame(), (std::vector<std::uint8_t>{0xAA, 0xBB, 0xCC, 0xDD, 0xEE}));

  std::vector<std::vector<std::uint8_t>> out = server.Device().Transcript().Frames(ESimEvent::Out);
  std::vector<std::vector<std::uint8_t>> expected{
      {0x1F}, {0x01, 0x02}, {}, {0x00, 0x01}, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE}};
  EXPECT_EQ(out, expected);
}

TEST_F(SimBusTest, ReadPacketTellsWhetherBytesCameAsOnePacketOfTheirOwn) {
  auto& server = m_bus->Plug(std::make_unique<CTestSimDevice>(
      Setup(0x1184), [&](CSimConnection& io) { io.WriteBytes(io.ReadPacket(8)); }));
  const std::vector<std::uint8_t> header{0, 0, 0x40, 0, 0x10, 0, 0, 1};
  struct Case {
    const char* name;
    std::vector<std::vector<std::uint8_t>> frames;
    bool violation;
  } cases[] = {
      {"one packet", {header}, false},
      {"after an empty write", {{}, header}, false},
      {"split 4+4", {{0, 0, 0x40, 0}, {0x10, 0, 0, 1}}, true},
      {"with more in the packet", {{0, 0, 0x40, 0, 0x10, 0, 0, 1, 0xAA}}, true},
  };
  std::size_t violations = 0;
  for (const Case& c : cases) {
    CRawUsbPeer host;
    ASSERT_TRUE(host.Connect(server.SocketPath()));
    for (const auto& frame : c.frames) host.SendFrame(frame);
    EXPECT_EQ(host.ReceiveFrame(), header) << c.name;  // the bytes arrive in any case
    std::size_t now = server.Device().Violations().size();
    EXPECT_EQ(now - violations, c.violation ? 1u : 0u) << c.name;
    violations = now;
  }
}

TEST_F(SimBusTest, ReadFrameReturnsTheRestOfTheFrameOrTheNextWholeOne) {
  auto& server =
      m_bus->Plug(std::make_unique<CTestSimDevice>(Setup(0x1184), [&](CSimConnection& io) {
        io.ReadByte();
        EXPECT_FALSE(io.AtFrameStart());
        EXPECT_EQ(io.BytesLeftInFrame(), 2u);
        io.WritePacket(io.ReadFrame());  // the rest: 2 bytes
        EXPECT_TRUE(io.AtFrameStart());
        io.WritePacket(io.ReadFrame());  // the next: empty
        io.WritePacket(io.ReadFrame());  // the next: 1 byte
      }));
  CRawUsbPeer host;
  ASSERT_TRUE(host.Connect(server.SocketPath()));
  host.SendFrame({1, 2, 3});
  host.SendFrame({});
  host.SendFrame({4});
  EXPECT_EQ(host.ReceiveFrame(), (std::vector<std::uint8_t>{2, 3}));
  EXPECT_EQ(host.ReceiveFrame(), std::vector<std::uint8_t>{});
  EXPECT_EQ(host.ReceiveFrame(), std::vector<std::uint8_t>{4});
}

TEST_F(SimBusTest, ConnectionsAreServedOneAfterAnotherAndAtOnce) {
  auto& server =
      m_bus->Plug(std::make_unique<CTestSimDevice>(Setup(0x1184), [&](CSimConnection& io) {
        while (true) io.WriteBytes({static_cast<std::uint8_t>(io.ReadByte() + io.Id())});
      }));
  CRawUsbPeer first, second;
  ASSERT_TRUE(first.Connect(server.SocketPath()));
  first.SendFrame({10});
  EXPECT_EQ(first.ReceiveFrame(), std::vector<std::uint8_t>{11});
  ASSERT_TRUE(second.Connect(server.SocketPath()));
  second.SendFrame({20});
  first.SendFrame({30});
  EXPECT_EQ(second.ReceiveFrame(), std::vector<std::uint8_t>{22});
  EXPECT_EQ(first.ReceiveFrame(), std::vector<std::uint8_t>{31});
  first.Close();
  second.Close();
  CRawUsbPeer third;
  ASSERT_TRUE(third.Connect(server.SocketPath()));
  third.SendFrame({40});
  EXPECT_EQ(third.ReceiveFrame(), std::vector<std::uint8_t>{43});
}

TEST_F(SimBusTest, EjectDropsConnectionsLeavesTheBusAndComesBackAsTheFamilySays) {
  CSimDeviceSetup setup = Setup(0x7D2A, ESimGeneration::First, "Q1");
  setup.FriendlyName = "Before";
  setup.AwayMilliseconds = 1500;
  auto device = std::make_unique<CTestSimDevice>(setup, [](CSimConnection& io) {
    while (true) io.WriteBytes(io.ReadBytes(1));
  });
  CTestSimDevice& sim = *device;
  CSimDeviceServer& server = m_bus->Plug(std::move(device));
  const std::filesystem::path oldSocket = server.SocketPath();

  // While away: no socket, no name, refused opens. Coming back with another serial and name.
  bool socketGone = false, nameGone = false, refused = false;
  sim.OnReenumerate = [&] {
    socketGone = !std::filesystem::exists(oldSocket);
    nameGone = !std::filesystem::exists(oldSocket.string() + ".name");
    CRawUsbPeer probe;
    refused = !probe.Connect(oldSocket);
    CSimUsbAddress address = sim.Address();
    address.Serial = "Q2";
    sim.SetAddress(address);
    sim.SetFriendlyName("After");
  };

  CRawUsbPeer working;
  ASSERT_TRUE(working.Connect(oldSocket));
  working.SendFrame({7});
  EXPECT_EQ(working.ReceiveFrame(), std::vector<std::uint8_t>{7});

  CRawUsbPeer ejector;
  ASSERT_TRUE(ejector.Connect(oldSocket));
  ejector.SendEject();
  ejector.Close();
  ASSERT_TRUE(server.WaitForReenumerations(1, 5s));

  EXPECT_TRUE(working.WaitClosed());
  EXPECT_TRUE(socketGone);
  EXPECT_TRUE(nameGone);
  EXPECT_TRUE(refused);
  EXPECT_EQ(m_clock.Waits(), std::vector<std::uint32_t>{1500});
  EXPECT_FALSE(std::filesystem::exists(oldSocket));
  EXPECT_TRUE(IsSocket(server.SocketPath()));
  EXPECT_EQ(server.DevicePath(), "usb#vid_7a3c&pid_7d2a#Q2#{0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4}");
  EXPECT_EQ(FirstLine(server.SocketPath().string() + ".name"), "After");
  EXPECT_EQ(server.Presence(), ESimPresence::Present);

  CRawUsbPeer after;
  ASSERT_TRUE(after.Connect(server.SocketPath()));
  after.SendFrame({9});
  EXPECT_EQ(after.ReceiveFrame(), std::vector<std::uint8_t>{9});

  std::vector<ESimEvent> events = Events(sim.Transcript());
  auto at = [&](ESimEvent event) {
    return std::find(events.begin(), events.end(), event) - events.begin();
  };
  EXPECT_LT(at(ESimEvent::Eject), at(ESimEvent::Away));
  EXPECT_LT(at(ESimEvent::Away), at(ESimEvent::Back));
  EXPECT_EQ(sim.Transcript().Count(ESimEvent::DeviceClose), 2u);  // the working and the eject one
}

TEST_F(SimBusTest, EjectInTheMiddleOfDataIsAnEjectToo) {
  auto& server = m_bus->Plug(std::make_unique<CScriptedSimDevice>(Setup(0x1184)));
  CRawUsbPeer host;
  ASSERT_TRUE(host.Connect(server.SocketPath()));
  host.SendFrame({1, 2, 3});
  host.SendEject();
  EXPECT_TRUE(host.WaitClosed());
  EXPECT_TRUE(server.WaitForReenumerations(1, 5s));
}

TEST_F(SimBusTest, OverlongHostFrameIsAViolationAndTheDeviceDropsTheConnection) {
  auto& server = m_bus->Plug(std::make_unique<CScriptedSimDevice>(Setup(0x1184)));
  CRawUsbPeer host;
  ASSERT_TRUE(host.Connect(server.SocketPath()));
  host.SendFrame(std::vector<std::uint8_t>(256, 0xFF));  // the longest allowed
  host.SendFrame(std::vector<std::uint8_t>(257, 0xFF));
  EXPECT_TRUE(host.WaitClosed());
  ASSERT_TRUE(server.Device().Transcript().WaitForCount(ESimEvent::DeviceClose, 1, 5s));
  ASSERT_EQ(server.Device().Violations().size(), 2u);  // 256 unmatched bytes, then the frame
  EXPECT_EQ(server.Device().Violations()[1], "host frame of 257 bytes (at most 256)");
  EXPECT_EQ(server.Device().Transcript().Count(ESimEvent::Out), 1u);
}

TEST_F(SimBusTest, StopDropsConnectionsAndRemovesSocketAndName) {
  CSimDeviceSetup setup = Setup(0x1184);
  setup.FriendlyName = "Box";
  CSimDeviceServer& server = m_bus->Plug(std::make_unique<CScriptedSimDevice>(setup));
  std::filesystem::path socket = server.SocketPath();
  CRawUsbPeer host;
  ASSERT_TRUE(host.Connect(socket));
  host.SendFrame({1});
  m_bus->Unplug(server);
  EXPECT_TRUE(host.WaitClosed());
  EXPECT_FALSE(std::filesystem::exists(socket));
  EXPECT_FALSE(std::filesystem::exists(socket.string() + ".name"));
  CRawUsbPeer late;
  EXPECT_FALSE(late.Connect(socket));
}

TEST_F(SimBusTest, StaleSocketIsReplacedButALiveOneIsNotTaken) {
  CSimDeviceServer& live = m_bus->Plug(std::make_unique<CScriptedSimDevice>(Setup(0x1184)));
  EXPECT_THROW(m_bus->Plug(std::make_unique<CScriptedSimDevice>(Setup(0x1184))), CSimError);
  CRawUsbPeer host;
  EXPECT_TRUE(host.Connect(live.SocketPath()));

  // A socket file nobody listens on, as a simulator that was killed leaves it behind.
  std::filesystem::path stale = m_bus->Directory() / Setup(0x2222).Address.DevicePath();
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, stale.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
  ASSERT_TRUE(IsSocket(stale));
  CSimDeviceServer& fresh = m_bus->Plug(std::make_unique<CScriptedSimDevice>(Setup(0x2222)));
  CRawUsbPeer other;
  EXPECT_TRUE(other.Connect(fresh.SocketPath()));
}

TEST_F(SimBusTest, DeepBusFolderIsServedThroughTheDirectory) {
  std::filesystem::path deep = m_folder / std::string(60, 'd') / std::string(60, 'e');
  CSimBus bus(deep);
  CSimDeviceServer& server = bus.Plug(std::make_unique<CTestSimDevice>(
      Setup(0x1184), [](CSimConnection& io) { io.WriteBytes(io.ReadBytes(1)); }));
  ASSERT_GT(server.SocketPath().string().size(), 108u);
  EXPECT_TRUE(IsSocket(server.SocketPath()));
  CRawUsbPeer host;
  ASSERT_TRUE(host.Connect(server.SocketPath()));
  host.SendFrame({5});
  EXPECT_EQ(host.ReceiveFrame(), std::vector<std::uint8_t>{5});
}

}  // namespace
