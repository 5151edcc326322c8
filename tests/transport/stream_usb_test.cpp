#include "transport/stream_usb.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

#include "emulated_bus_fixture.h"
#include "platform/wire_trace.h"
#include "devices/1a/usb_1a.h"
#include "devices/1z/usb_1z.h"
#include "devices/2a/quadrel_usb.h"
#include "devices/automotive/motrevo_usb.h"
#include "devices/servo/servo_usb.h"
#include "transport/catalog_named_usb.h"
#include "updater/device_catalog.h"

namespace {

using Bytes = CEmulatedUsbDevice::Bytes;
using Reply = CEmulatedUsbDevice::Reply;

class CTestUsb : public CStreamUSB {
 public:
  explicit CTestUsb(std::uint16_t pid) : m_pid(pid) {}
  std::string GetProductName() override { return "Tavrix Test Interface"; }
  std::uint16_t GetProductId() override { return m_pid; }

 private:
  std::uint16_t m_pid;
};

class UsbTransportTest : public EmulatedBusTest {
 protected:
  // A device that gets frames and answers none.
  CEmulatedUsbDevice& Quadrel(const std::string& serial = "q1") {
    return AddDevice(0x7D2A, serial, false, "Tavrix Quadrel Interface");
  }
  // Opens a first-generation transport on `device` and waits until the device has taken the
  // probe and the pipe connection; the open delay is cleared from the clock.
  void OpenOrFail(CStreamUSB& usb, CEmulatedUsbDevice& device) {
    ASSERT_TRUE(usb.Open());
    ASSERT_TRUE(device.WaitUntil([&] { return device.Connections() == 2 && device.OpenConnections() == 1; }));
    m_clock.ClearWaits();
  }
};

TEST(UsbTransport, MatchingTextIsFourLowerCaseDigits) {
  const std::pair<std::uint16_t, const char*> cases[] = {
      {0x004B, "pid_004b"}, {0x7D2A, "pid_7d2a"}, {0x0000, "pid_0000"}, {0xFFFF, "pid_ffff"}};
  for (const auto& [pid, text] : cases) EXPECT_EQ(CTestUsb(pid).MatchingText(), text);
}

TEST(UsbTransport, FamilyClassesNameTheirProducts) {
  CUsb1A usb1a;
  CUsb1Z usb1z;
  CQuadrelUsb quadrel;
  CServoUSB servo;
  CMyUsb motrevo;
  struct Case {
    CStreamUSB& usb;
    const char* name;
    std::uint16_t pid;
    bool secondGeneration;
  };
  const Case cases[] = {{usb1a, "Tavrix ZQ1184-2B Interface", 0x1184, false},
                        {usb1z, "Tavrix ZR9046-3C Interface", 0x9046, false},
                        {quadrel, "Tavrix Quadrel Interface", 0x7D2A, false},
                        {servo, "Tavrix Kinetra", 0x3351, false},
                        {motrevo, "Tavrix MOTREVO", 0x4C17, true}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.usb.GetProductName(), c.name);
    EXPECT_EQ(c.usb.GetProductId(), c.pid) << c.name;
    EXPECT_EQ(c.usb.IsSecondGeneration(), c.secondGeneration) << c.name;
    EXPECT_EQ(c.usb.GetInterfaceGuid(), c.secondGeneration ? kUsbSecondGenerationGuid : kUsbFirstGenerationGuid);
    EXPECT_EQ(c.usb.GetPipeName(true), "PIPE02");
    EXPECT_EQ(c.usb.GetPipeName(false), "PIPE03");
    EXPECT_EQ(c.usb.OpenDelay(), 1000);
    EXPECT_FALSE(c.usb.IsOpen());
  }
}

TEST_F(UsbTransportTest, FirstGenerationOpensTheFirstMatchAfterAProbe) {
  auto& other = AddDevice(0x1184, "a");
  auto& first = Quadrel("b");
  auto& second = Quadrel("c");
  auto& otherClass = AddDevice(0x7D2A, "0", true);  // sorts first, but is the other driver's

  CQuadrelUsb usb;
  ASSERT_TRUE(usb.Open());
  EXPECT_EQ(usb.DevicePath(), Path(0x7D2A, "b"));
  EXPECT_EQ(usb.OpenCount(), 1);
  EXPECT_EQ(m_clock.Waits(), std::vector<std::uint32_t>{1000}) << "the open delay";
  // The probe connection closes without a frame; both pipes share the second one.
  ASSERT_TRUE(first.WaitUntil([&] { return first.Probes() == 1 && first.Connections() == 2; }));
  EXPECT_EQ(first.OpenConnections(), 1);
  for (auto* untouched : {&other, &second, &otherClass}) EXPECT_EQ(untouched->Connections(), 0);

  const std::uint8_t command[] = {0x02};
  usb.Write(command, 1);
  WaitForReceived(first, 1);
  EXPECT_EQ(first.Transcript().back().connection, 2);
}

TEST_F(UsbTransportTest, WrongProductIdIsNotOpened) {
  auto& device = AddDevice(0x1184, "a", false, "Tavrix ZQ1184-2B Interface");
  CQuadrelUsb usb;
  EXPECT_FALSE(usb.Open());
  EXPECT_FALSE(usb.IsOpen());
  EXPECT_EQ(usb.OpenCount(), 0);
  EXPECT_EQ(device.Connections(), 0);
  EXPECT_TRUE(m_clock.Waits().empty());
  EXPECT_TRUE(m_ui.MessageTexts().empty());
}

TEST_F(UsbTransportTest, FirstGenerationSkipsADeviceThatRefusesTheProbe) {
  // A socket nobody listens on: the connect is refused.
  std::string dead = m_directory.Path() + "/" + Path(0x7D2A, "a");
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, dead.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ::close(fd);
  auto& live = Quadrel("b");

  CQuadrelUsb usb;
  ASSERT_TRUE(usb.Open());
  EXPECT_EQ(usb.DevicePath(), live.DevicePath());
}

TEST_F(UsbTransportTest, SecondGenerationOpensOneHandleWithoutDelay) {
  auto& firstGeneration = AddDevice(0x4C17, "a", false);
  auto& device = AddDevice(0x4C17, "b", true, "Tavrix MOTREVO");
  CMyUsb usb;
  ASSERT_TRUE(usb.Open());
  EXPECT_EQ(usb.DevicePath(), device.DevicePath());
  EXPECT_TRUE(m_clock.Waits().empty()) << "the open delay of this generation never applies here";
  const std::uint8_t command[] = {0x7F};
  usb.Write(command, 1);
  WaitForReceived(device, 1);
  EXPECT_EQ(device.Connections(), 1);
  EXPECT_EQ(device.Probes(), 0);
  EXPECT_EQ(firstGeneration.Connections(), 0);
}

TEST_F(UsbTransportTest, OpenCountsAndTheLastCloseReleases) {
  auto& device = Quadrel();
  CQuadrelUsb usb;
  usb.Close();
  EXPECT_EQ(usb.OpenCount(), 0);
  OpenOrFail(usb, device);
  ASSERT_TRUE(usb.Open());
  EXPECT_EQ(usb.OpenCount(), 2);
  usb.WriteByte(0);
  WaitForReceived(device, 1);
  EXPECT_EQ(device.Connections(), 2) << "an open transport does not search again";
  usb.Close();
  EXPECT_TRUE(usb.IsOpen());
  usb.Close();
  EXPECT_FALSE(usb.IsOpen());
  EXPECT_TRUE(device.WaitUntil([&] { return device.OpenConnections() == 0; }));
}

TEST_F(UsbTransportTest, DestroyingAnOpenTransportClosesIt) {
  auto& device = Quadrel();
  {
    CQuadrelUsb usb;
    ASSERT_TRUE(usb.Open());
    ASSERT_TRUE(device.WaitUntil([&] { return device.Connections() == 2 && device.OpenConnections() == 1; }));
  }
  EXPECT_TRUE(device.WaitUntil([&] { return device.OpenConnections() == 0; }));
}

TEST_F(UsbTransportTest, UnbufferedWritesGoOutInChunksOf256) {
  auto& device = Quadrel();
  CQuadrelUsb usb;
  OpenOrFail(usb, device);
  Bytes data(600);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  usb.Write(data.data(), 600);
  usb.Write(data.data(), 0);
  WaitForReceived(device, 4);
  EXPECT_EQ(ReceivedSizes(device), (std::vector<std::size_t>{256, 256, 88, 0}));
  Bytes joined;
  for (const auto& frame : device.Received()) joined.insert(joined.end(), frame.begin(), frame.end());
  EXPECT_EQ(joined, data);
}

TEST_F(UsbTransportTest, BufferedWritesLeaveIn64ByteTransfers) {
  auto& device = Quadrel();
  CQuadrelUsb usb;
  OpenOrFail(usb, device);
  usb.EndWriteBuffer();  // nothing collected: nothing sent
  usb.BeginWriteBuffer();
  Bytes data(130, 0x55);
  data[0] = 0x01;
  data[129] = 0x99;
  usb.Write(data.data(), 100);
  usb.Write(data.data() + 100, 30);
  WaitForReceived(device, 2);
  EXPECT_EQ(ReceivedSizes(device), (std::vector<std::size_t>{64, 64}));
  EXPECT_EQ(usb.GetOutputCount(), 2u);
  usb.EndWriteBuffer();
  usb.EndWriteBuffer();
  const std::uint8_t marker[] = {0xEE};
  usb.Write(marker, 1);  // unbuffered again
  WaitForReceived(device, 4);
  EXPECT_EQ(ReceivedSizes(device), (std::vector<std::size_t>{64, 64, 2, 1}));
  EXPECT_EQ(device.Received()[2], (Bytes{0x55, 0x99}));
}

TEST_F(UsbTransportTest, ReadsServeBytesFromOnePacketAndSkipEmptyPackets) {
  auto& device = Quadrel();
  CQuadrelUsb usb;
  device.SetHandler([](const Bytes&) {
    return Reply{{CEmulatedUsbDevice::ToBytes("abc"), {}, {}, CEmulatedUsbDevice::ToBytes("de"),
                  CEmulatedUsbDevice::ToBytes("xyz")}};
  });
  OpenOrFail(usb, device);
  usb.WriteByte(0x02);
  EXPECT_EQ(usb.ReadByte(), 'a');
  EXPECT_EQ(usb.GetInputCount(), 2u);
  std::uint8_t two[2];
  usb.Read(two, 2);
  EXPECT_EQ(std::string(two, two + 2), "bc");
  EXPECT_EQ(usb.GetInputCount(), 0u);
  std::uint8_t three[3];
  usb.Read(three, 3);  // "de", then the next packet
  EXPECT_EQ(std::string(three, three + 3), "dex");
  usb.ClearInput();
  EXPECT_EQ(usb.GetInputCount(), 0u);
  EXPECT_EQ(usb.OpenCount(), 1);
}

TEST_F(UsbTransportTest, DeviceThatClosesInMidReadRaisesReadError) {
  auto& device = Quadrel();
  device.SetHandler([](const Bytes&) { return Reply{{CEmulatedUsbDevice::ToBytes("ZR66")}, true}; });
  CQuadrelUsb usb;
  OpenOrFail(usb, device);
  usb.WriteByte(0x02);
  try {
    usb.ReadString();
    FAIL() << "a device that went away must raise";
  } catch (const CStreamException& error) {
    EXPECT_EQ(error.MessageId(), 20009);
  }
  EXPECT_TRUE(usb.IsOpen()) << "the handles stay open; the caller decides";
}

TEST_F(UsbTransportTest, SilentDeviceEndsWithReadErrorWithinTheBound) {
  auto& device = Quadrel();
  m_bus.SetReadBound(std::chrono::milliseconds(150));
  CQuadrelUsb usb;
  OpenOrFail(usb, device);
  auto start = std::chrono::steady_clock::now();
  try {
    usb.ReadByte();
    FAIL() << "a silent device must not hang the read";
  } catch (const CStreamException& error) {
    EXPECT_EQ(error.MessageId(), 20009);
  }
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(150));
  EXPECT_LT(waited, std::chrono::seconds(3));
}

TEST_F(UsbTransportTest, WriteToADeviceThatWentAwayRaisesWriteError) {
  auto& device = Quadrel();
  device.SetHandler([](const Bytes&) { return Reply{{}, true}; });
  CQuadrelUsb usb;
  OpenOrFail(usb, device);
  usb.WriteByte(1);
  ASSERT_TRUE(device.WaitUntil([&] { return device.Received().size() == 1 && device.OpenConnections() == 0; }));
  try {
    usb.WriteByte(2);
    FAIL() << "a write to a closed connection must raise";
  } catch (const CStreamException& error) {
    EXPECT_EQ(error.MessageId(), 20010);
  }
}

TEST_F(UsbTransportTest, ResetClosesEjectsByNameAndWaits) {
  auto& device = Quadrel();
  auto& bystander = AddDevice(0x4C17, "m", true, "Tavrix MOTREVO");
  CQuadrelUsb usb;
  OpenOrFail(usb, device);
  EXPECT_TRUE(usb.ResetDevice());
  EXPECT_FALSE(usb.IsOpen());
  EXPECT_EQ(m_clock.Waits(), std::vector<std::uint32_t>{5000});
  EXPECT_TRUE(device.WaitUntil([&] { return device.Ejects() == 1; }));
  EXPECT_EQ(bystander.Ejects(), 0);
  EXPECT_EQ(m_ui.waitCursorDepth, 0);
}

TEST_F(UsbTransportTest, ResetOfATransportOpenedTwiceKeepsItOpen) {
  auto& device = Quadrel();
  CQuadrelUsb usb;
  OpenOrFail(usb, device);
  ASSERT_TRUE(usb.Open());
  EXPECT_TRUE(usb.ResetDevice());
  EXPECT_TRUE(usb.IsOpen()) << "ResetDevice closes once";
  EXPECT_TRUE(device.WaitUntil([&] { return device.Ejects() == 1; }));
  EXPECT_EQ(m_clock.Waits(), std::vector<std::uint32_t>{5000});
}

TEST_F(UsbTransportTest, ServoTransportFallsBackToItsSecondProductId) {
  AddDevice(0x3352, "s", false, "Tavrix Kinetra");
  CServoUSB usb;
  ASSERT_TRUE(usb.Open());
  EXPECT_TRUE(usb.GenerationFlag());
  EXPECT_EQ(usb.GetProductId(), 13138);

  AddDevice(0x3351, "r", false, "Tavrix Kinetra");
  CServoUSB first;
  ASSERT_TRUE(first.Open());
  EXPECT_FALSE(first.GenerationFlag());
  EXPECT_EQ(first.DevicePath(), Path(0x3351, "r"));
}

TEST_F(UsbTransportTest, CatalogTransportsAreNamedByTheEntryTheyAreMadeFor) {
  DeviceRecord record;
  record.Id = "ZP4711-1M";
  record.Name = "MK Interface";
  record.UsbPid = 0x4711;
  AddDevice(0x4711, "k", true);
  CCatalogNamedUsb mk(record);
  record.Id = "ZA0815-2T";
  record.Name = "ATMU";
  record.UsbPid = 0x0815;
  CCatalogNamedUsb atmu(record);
  EXPECT_EQ(mk.GetProductName(), "Tavrix ZP4711-1M MK Interface");
  EXPECT_TRUE(mk.IsSecondGeneration());
  EXPECT_TRUE(mk.Open());
  EXPECT_EQ(atmu.GetProductName(), "Tavrix ZA0815-2T ATMU");
  EXPECT_EQ(atmu.GetProductId(), 0x0815);
  EXPECT_FALSE(atmu.Open());
}

TEST_F(UsbTransportTest, FailedOpenAsksThroughTheInterfaceDialog) {
  CQuadrelUsb usb;
  m_ui.QueueInterfaceAnswer(4);
  EXPECT_EQ(usb.QueryInitFailure(false, true), 4);
  ASSERT_EQ(m_ui.InterfaceTexts().size(), 1u);
  EXPECT_NE(m_ui.InterfaceTexts()[0].find("\"Tavrix Quadrel Interface\""), std::string::npos);
  m_ui.QueueInterfaceAnswer(CScriptedUserInterface::kNotShown);
  EXPECT_EQ(usb.QueryInitFailure(false, true), 2);
}

TEST_F(UsbTransportTest, TraceRecordsEveryTransfer) {
  auto& device = Quadrel();
  device.SetHandler([](const Bytes&) { return Reply{{Bytes{0x21, 0x0A}}}; });
  std::string tracePath = m_directory.Path() + "/trace.txt";
  SetWireTraceFile(tracePath);
  {
    CQuadrelUsb usb;
    ASSERT_TRUE(usb.Open());
    const std::uint8_t command[] = {0x04, 0xAB, 0xFF};
    usb.Write(command, 3);
    usb.ExpectAck();
  }
  SetWireTraceFile("");
  std::ifstream in(tracePath);
  std::stringstream text;
  text << in.rdbuf();
  std::string trace = text.str();
  EXPECT_NE(trace.find(device.DevicePath() + "  OUT  3  04 ab ff\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find(device.DevicePath() + "  IN   2  21 0a\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("open PIPE02/PIPE03"), std::string::npos) << trace;
  EXPECT_NE(trace.find("close"), std::string::npos) << trace;
}

// A bus whose interface lists and opens a test scripts.
class CScriptedListBus : public CEmulatedUsbBus {
 public:
  using CEmulatedUsbBus::CEmulatedUsbBus;
  struct Entry {
    UsbEnumResult result;
    std::string path;
  };
  std::unique_ptr<IUsbInterfaceList> ListInterfaces(std::string_view guid) override {
    ++lists;
    if (noList) return nullptr;
    if (entries.empty()) return CEmulatedUsbBus::ListInterfaces(guid);
    return std::make_unique<List>(entries);
  }
  std::unique_ptr<IUsbHandle> Open(const std::string& path, UsbAccess access, UsbOpenError* error) override {
    opened.push_back(path);
    if (denied) {
      if (error != nullptr) *error = UsbOpenError::kPermissionDenied;
      return nullptr;
    }
    return CEmulatedUsbBus::Open(path, access, error);
  }

  bool noList = false;
  bool denied = false;
  int lists = 0;
  std::vector<Entry> entries;
  std::vector<std::string> opened;

 private:
  class List : public IUsbInterfaceList {
   public:
    explicit List(std::vector<Entry> entries) : m_entries(std::move(entries)) {}
    UsbEnumResult Interface(unsigned index, std::string& path) override {
      if (index >= m_entries.size()) return UsbEnumResult::kNoMoreItems;
      path = m_entries[index].path;
      return m_entries[index].result;
    }

   private:
    std::vector<Entry> m_entries;
  };
};

class ScriptedListTest : public EmulatedBusTest {
 protected:
  ScriptedListTest() : m_scripted(m_directory.Path()), m_scope(m_scripted) {}
  CScriptedListBus m_scripted;
  CUsbBusScope m_scope;
};

TEST_F(ScriptedListTest, WithoutAnInterfaceListBothSearchesFail) {
  m_scripted.noList = true;
  CQuadrelUsb first;
  CMyUsb second;
  EXPECT_FALSE(first.Open());
  EXPECT_FALSE(second.Open());
  EXPECT_EQ(m_scripted.lists, 2);
}

TEST_F(ScriptedListTest, FirstGenerationSkipsBrokenEntriesSecondGenerationStops) {
  auto& device = AddDevice(0x7D2A, "x", false);
  m_scripted.entries = {{UsbEnumResult::kFailed, ""},
                        {UsbEnumResult::kDetailFailed, ""},
                        {UsbEnumResult::kOk, "usb#vid_abcd&pid_7D2A#up#{0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4}"},
                        {UsbEnumResult::kOk, device.DevicePath()}};
  CQuadrelUsb first;
  ASSERT_TRUE(first.Open()) << "broken entries and an upper-case pid are passed over";
  EXPECT_EQ(first.DevicePath(), device.DevicePath());

  class CSecond : public CStreamUSB2 {
   public:
    std::string GetProductName() override { return "Tavrix Second"; }
    std::uint16_t GetProductId() override { return 0x7D2A; }
  } second;
  m_scripted.opened.clear();
  EXPECT_FALSE(second.Open()) << "this generation gives up at the first broken entry";
  EXPECT_TRUE(m_scripted.opened.empty());
}

TEST_F(ScriptedListTest, DeviceWithoutPermissionIsNamedInPlainWords) {
  AddDevice(0x7D2A, "p", false, "Tavrix Quadrel Interface");
  m_scripted.denied = true;
  CQuadrelUsb usb;
  EXPECT_FALSE(usb.Open());
  ASSERT_EQ(m_ui.MessageTexts().size(), 1u);
  const std::string text = m_ui.MessageTexts()[0];
  EXPECT_NE(text.find("\"Tavrix Quadrel Interface\" is connected, but this user is not allowed to open it"),
            std::string::npos) << text;
  EXPECT_NE(text.find(Path(0x7D2A, "p")), std::string::npos);
  EXPECT_NE(text.find("udev rule"), std::string::npos);
}

}  // namespace
