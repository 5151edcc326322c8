// End to end: tavrix-devsim serves a scripted device on an emulated bus, and the terminal
// front end lists it and connects to it through the USB transport.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/emulated_usb_bus.h"
#include "support/devsim_process.h"
#include "support/emulated_usb_device.h"
#include "support/run_program.h"
#include "support/scripted_user_interface.h"
#include "transport/stream_device.h"
#include "devices/2a/quadrel_usb.h"

namespace {

std::string RunCli(const std::string& bus, int& status) {
  std::string command = "TAVRIX_USB_BUS='" + bus + "' " TAVRIX_BIN_DIR "/tavrix-update-cli devices";
  return RunProgram(command, status);
}

class CQuadrelProbe : public CStreamDevice {
 public:
  bool Identify() override { return ReadIdentity("ZR6618-7D"); }

 protected:
  std::unique_ptr<CStreamIO> CreateTransport() override { return std::make_unique<CQuadrelUsb>(); }
};

TEST(DevSimEndToEnd, TheFrontEndListsAndReachesAServedDevice) {
  CTempBusDirectory bus;
  const std::string path = "usb#vid_7a3c&pid_7d2a#Q1#{0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4}";
  CDevSim devsim({"--bus", bus.Path(), "--device",
                  "scripted:pid=0x7d2a,gen=1,serial=Q1,name=\"Tavrix Quadrel Interface\","
                  "rule=02>'ZR6618-7D Quadrel 107'00"});
  auto line = devsim.FirstLine();
  ASSERT_TRUE(line) << "tavrix-devsim did not start";
  ASSERT_EQ(line->rfind("serving " + path, 0), 0u) << *line;

  int status = -1;
  // Its serial is its id; the catalog entries beside the program that open it come next.
  std::string listed = RunCli(bus.Path(), status);
  EXPECT_EQ(listed.rfind("Q1\t", 0), 0u) << listed;
  EXPECT_NE(listed.find("\tTavrix Quadrel Interface\t" + path + "\n"), std::string::npos) << listed;
  EXPECT_EQ(status, 0);

  // The same device through the connect loop: probe, pipes, identity.
  CScriptedUserInterface ui;
  CVirtualClock clock;
  CClockScope clockScope(clock);
  CEmulatedUsbBus emulated(bus.Path());
  CUsbBusScope busScope(emulated);
  CQuadrelProbe device;
  ASSERT_EQ(device.OpenAndIdentify(), CStreamDevice::kConnected);
  EXPECT_EQ(device.Identity(), "ZR6618-7D Quadrel 107");
  EXPECT_EQ(CStreamDevice::ParseVersionAt(device.Identity(), 18), 107);
  EXPECT_TRUE(device.Stream()->ResetDevice());
  EXPECT_EQ(clock.Waits(), (std::vector<std::uint32_t>{1000, 5000}));
}

}  // namespace
