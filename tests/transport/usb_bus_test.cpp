#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "emulated_bus_fixture.h"
#include "platform/libusb_bus.h"
#include "platform/usb_products.h"
#include "sim/sim_socket.h"

namespace {

using Bytes = CEmulatedUsbDevice::Bytes;
using Reply = CEmulatedUsbDevice::Reply;

class EmulatedUsbBusTest : public EmulatedBusTest {};

TEST(EmulatedUsbBus, DevicePathShape) {
  const std::pair<const char*, bool> cases[] = {
      {"usb#vid_abcd&pid_7d2a#1-2_x#{0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4}", true},
      {"usb#vid_abcd&pid_7d2a#S#{5b1e2c47-9d03-4a6f-8e21-3c7d90b4f152}", true},
      {"usb#vid_ABCD&pid_7d2a#S#{5b1e2c47-9d03-4a6f-8e21-3c7d90b4f152}", false},  // upper-case digits
      {"usb#vid_abcd&pid_7d2a#S#{5B1E2C47-9D03-4A6F-8E21-3C7D90B4F152}", false},  // upper-case GUID
      {"usb#vid_abcd&pid_7d2a##{5b1e2c47-9d03-4a6f-8e21-3c7d90b4f152}", false},   // no serial
      {"usb#vid_abcd&pid_7d2a#a.b#{5b1e2c47-9d03-4a6f-8e21-3c7d90b4f152}", false},
      {"usb#vid_abcd&pid_7d2a#S#{00000000-0000-0000-0000-000000000000}", false},  // another class
      {"usb#vid_abc&pid_7d2a#S#{5b1e2c47-9d03-4a6f-8e21-3c7d90b4f152}", false},
      {"usb#vid_abcd&pid_7d2a#S#{5b1e2c47-9d03-4a6f-8e21-3c7d90b4f152}.name", false},
      {"usb#vid_abcd", false},
      {"", false},
  };
  for (const auto& [name, valid] : cases) EXPECT_EQ(CEmulatedUsbBus::IsDevicePath(name), valid) << name;
}

TEST_F(EmulatedUsbBusTest, EnumerationListsSocketsOfTheClassSortedByName) {
  AddDevice(0x7D2A, "b");
  AddDevice(0x1184, "z");
  AddDevice(0x7D2A, "a");
  AddDevice(0x4C17, "m", true);
  // A regular file of the right shape and a socket of the wrong shape are ignored.
  std::ofstream(m_directory.Path() + "/" + Path(0x9046, "file"));
  const int odd = ListenOnUnixSocket(m_directory.Path() + "/usb#vid_abcd&pid_9046#odd");

  EXPECT_EQ(EnumerateInterfaces(m_bus, kUsbFirstGenerationGuid),
            (std::vector<std::string>{Path(0x1184, "z"), Path(0x7D2A, "a"), Path(0x7D2A, "b")}));
  EXPECT_EQ(EnumerateInterfaces(m_bus, "5b1e2c47-9d03-4a6f-8e21-3c7d90b4f152"),
            std::vector<std::string>{Path(0x4C17, "m", true)});

  CEmulatedUsbBus missing(m_directory.Path() + "/nothing-here");
  EXPECT_EQ(missing.ListInterfaces(kUsbFirstGenerationGuid), nullptr);
  ::close(odd);
}

TEST_F(EmulatedUsbBusTest, FriendlyNameIsTheFirstLineOfTheNameFile) {
  auto& named = AddDevice(0x7D2A, "a", false, "Tavrix Quadrel Interface");
  auto& plain = AddDevice(0x7D2A, "b");
  std::ofstream(m_directory.Path() + "/" + plain.DevicePath() + ".name") << "Line one\r\nLine two\n";
  EXPECT_EQ(m_bus.FriendlyName(named.DevicePath()), "Tavrix Quadrel Interface");
  EXPECT_EQ(m_bus.FriendlyName(plain.DevicePath()), "Line one");
  EXPECT_EQ(m_bus.FriendlyName(Path(0x7D2A, "nobody")), "");
  EXPECT_EQ(m_bus.FriendlyName("../../etc/passwd"), "") << "only device paths are looked up";
}

TEST_F(EmulatedUsbBusTest, PipesOfOneDeviceShareAConnectionThePathGetsItsOwn) {
  auto& device = AddDevice(0x7D2A, "a");
  device.SetHandler([](const Bytes& frame) { return Reply{{frame}}; });  // echo
  UsbOpenError error = UsbOpenError::kFailed;
  auto in = m_bus.Open(device.DevicePath() + "\\PIPE02", UsbAccess::kRead, &error);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(error, UsbOpenError::kNone);
  auto out = m_bus.Open(device.DevicePath() + "\\pipe03", UsbAccess::kWrite, &error);
  ASSERT_NE(out, nullptr);
  const std::uint8_t data[] = {1, 2, 3};
  EXPECT_EQ(out->WritePacket(data, 3), 3);
  std::uint8_t packet[64];
  EXPECT_EQ(in->ReadPacket(packet, sizeof(packet)), 3) << "the echo comes back on the shared connection";
  EXPECT_EQ(in->WritePacket(data, 1), -1) << "the IN pipe does not write";
  EXPECT_EQ(out->ReadPacket(packet, sizeof(packet)), -1) << "the OUT pipe does not read";
  auto whole = m_bus.Open(device.DevicePath(), UsbAccess::kReadWrite, &error);
  ASSERT_NE(whole, nullptr);
  EXPECT_TRUE(device.WaitUntil([&] { return device.Connections() == 2; }));
  EXPECT_EQ(m_bus.Open(device.DevicePath() + "\\PIPE04", UsbAccess::kRead, &error), nullptr);
  EXPECT_EQ(m_bus.Open(Path(0x7D2A, "gone"), UsbAccess::kReadWrite, &error), nullptr);
  EXPECT_EQ(error, UsbOpenError::kNotFound);
}

TEST_F(EmulatedUsbBusTest, OversizedPacketFromTheDeviceIsATransferError) {
  auto& device = AddDevice(0x7D2A, "a");
  device.SetHandler([](const Bytes&) { return Reply{{Bytes(65, 0xAA)}}; });
  auto handle = m_bus.Open(device.DevicePath(), UsbAccess::kReadWrite);
  ASSERT_NE(handle, nullptr);
  const std::uint8_t command = 0x02;
  ASSERT_EQ(handle->WritePacket(&command, 1), 1);
  std::uint8_t packet[64];
  EXPECT_EQ(handle->ReadPacket(packet, sizeof(packet)), -1);
}

TEST_F(EmulatedUsbBusTest, EjectSendsTheResetFrameAndCloses) {
  auto& device = AddDevice(0x7D2A, "a");
  auto handle = m_bus.Open(device.DevicePath(), UsbAccess::kReadWrite);
  ASSERT_NE(handle, nullptr);
  EXPECT_TRUE(m_bus.Eject(device.DevicePath()));
  EXPECT_TRUE(device.WaitUntil([&] { return device.Ejects() == 1 && device.OpenConnections() == 0; }));
  std::uint8_t packet[64];
  EXPECT_EQ(handle->ReadPacket(packet, sizeof(packet)), -1) << "the device dropped its connections";
  EXPECT_FALSE(m_bus.Eject(Path(0x7D2A, "gone")));
}

TEST(EmulatedUsbBusPaths, SocketsBeyondTheAddressLengthAreStillReached) {
  CTempBusDirectory base;
  std::string deep = base.Path() + "/" + std::string(60, 'd');
  std::filesystem::create_directories(deep);
  std::string name = "usb#vid_abcd&pid_7d2a#x#{0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4}";
  ASSERT_GE((deep + "/" + name).size(), sizeof(sockaddr_un::sun_path));
  // Bind the socket from inside the directory, where its relative name is short enough.
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", name.c_str());
  auto previous = std::filesystem::current_path();
  std::filesystem::current_path(deep);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  std::filesystem::current_path(previous);
  ASSERT_EQ(::listen(fd, 4), 0);

  CEmulatedUsbBus bus(deep);
  EXPECT_EQ(EnumerateInterfaces(bus, kUsbFirstGenerationGuid), std::vector<std::string>{name});
  EXPECT_NE(bus.Open(name, UsbAccess::kReadWrite), nullptr);
  ::close(fd);
}

TEST(LibUsbBus, MachineWithoutUsbListsNothing) {
  CLibUsbBus bus;
  EXPECT_TRUE(EnumerateInterfaces(bus, kUsbFirstGenerationGuid).empty());
  EXPECT_TRUE(EnumerateInterfaces(bus, kUsbSecondGenerationGuid).empty());
  UsbOpenError error = UsbOpenError::kNone;
  std::string path = "usb#vid_abcd&pid_7d2a#1-2#{0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4}";
  EXPECT_EQ(bus.Open(path + "\\PIPE02", UsbAccess::kRead, &error), nullptr);
  EXPECT_EQ(error, UsbOpenError::kNotFound);
  EXPECT_FALSE(bus.Eject(path));
  EXPECT_EQ(bus.FriendlyName(path), "");
}

// The first-generation ids are those the families registered (1A, 1Z, 2A, servo).
TEST(LibUsbBus, PathsAndInterfaceClasses) {
  EXPECT_EQ(CLibUsbBus::LocationOf("usb#vid_abcd&pid_7d2a#3-1.4.2#{0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4}"),
            "3-1.4.2");
  EXPECT_EQ(CLibUsbBus::LocationOf("usb#vid_abcd&pid_7d2a"), "");
  EXPECT_EQ(CLibUsbBus::LocationOf("something else entirely"), "");
  for (std::uint16_t pid : {0x1184, 0x9046, 0x7D2A, 0x3351, 0x3352}) {
    EXPECT_STREQ(UsbInterfaceGuidOf(pid), kUsbFirstGenerationGuid) << pid;
  }
  for (std::uint16_t pid : {0x4C17, 0x4711, 0x0815}) {
    EXPECT_STREQ(UsbInterfaceGuidOf(pid), kUsbSecondGenerationGuid) << pid;
  }
}

TEST(LibUsbBus, FriendlyNamesComeFromSysfs) {
  CTempBusDirectory sysfs;
  std::filesystem::create_directories(sysfs.Path() + "/2-1.3");
  std::ofstream(sysfs.Path() + "/2-1.3/product") << "Tavrix MOTREVO\n";
  CLibUsbBus bus(sysfs.Path());
  EXPECT_EQ(bus.FriendlyName("usb#vid_abcd&pid_4c17#2-1.3#{5b1e2c47-9d03-4a6f-8e21-3c7d90b4f152}"),
            "Tavrix MOTREVO");
}

TEST(UsbBusChoice, EnvironmentSelectsTheEmulatedBus) {
  const char* saved = std::getenv("TAVRIX_USB_BUS");
  std::string previous = saved != nullptr ? saved : "";
  ::setenv("TAVRIX_USB_BUS", "/tmp/some-bus", 1);
  auto emulated = CreateUsbBusFromEnvironment();
  EXPECT_EQ(emulated->Description(), "emulated bus /tmp/some-bus");
  ::setenv("TAVRIX_USB_BUS", "", 1);
  EXPECT_EQ(CreateUsbBusFromEnvironment()->Description(), "libusb");
  ::unsetenv("TAVRIX_USB_BUS");
  EXPECT_EQ(CreateUsbBusFromEnvironment()->Description(), "libusb");
  if (saved != nullptr) ::setenv("TAVRIX_USB_BUS", previous.c_str(), 1);
}

TEST(WaitScale, HonouredOnlyOnAnEmulatedBus) {
  struct Case {
    const char* bus;
    const char* scale;
    double expected;
  };
  const Case cases[] = {
      {"/tmp/bus", "0.25", 0.25}, {"/tmp/bus", "0", 0.0}, {"/tmp/bus", "3", 1.0},
      {"/tmp/bus", "-1", 0.0},    {"/tmp/bus", "x", 1.0}, {nullptr, "0.25", 1.0},
      {"", "0.25", 1.0},          {"/tmp/bus", nullptr, 1.0},
  };
  for (const auto& c : cases) {
    if (c.bus != nullptr) ::setenv("TAVRIX_USB_BUS", c.bus, 1); else ::unsetenv("TAVRIX_USB_BUS");
    if (c.scale != nullptr) ::setenv("TAVRIX_WAIT_SCALE", c.scale, 1); else ::unsetenv("TAVRIX_WAIT_SCALE");
    EXPECT_DOUBLE_EQ(WaitScaleFromEnvironment(), c.expected)
        << (c.bus ? c.bus : "(unset)") << " " << (c.scale ? c.scale : "(unset)");
  }
  ::unsetenv("TAVRIX_USB_BUS");
  ::unsetenv("TAVRIX_WAIT_SCALE");
}

}  // namespace
