// End to end: tavrix-devsim serves a scripted device on an emulated bus, and the terminal
// front end lists it and connects to it through the USB transport.

#include <fcntl.h>
#include <gtest/gtest.h>

#include "support/run_program.h"
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/emulated_usb_bus.h"
#include "support/emulated_usb_device.h"
#include "support/scripted_user_interface.h"
#include "transport/stream_device.h"
#include "transport/usb_device_classes.h"

extern char** environ;

namespace {

// tavrix-devsim in a child process; its first output line tells that the device is served.
class CDevSim {
 public:
  explicit CDevSim(std::vector<std::string> args) {
    int out[2];
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::string program = std::string(TAVRIX_BIN_DIR) + "/tavrix-devsim";
    std::vector<char*> argv{program.data()};
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    EXPECT_EQ(::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    m_out = out[0];
  }
  ~CDevSim() {
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
    ::close(m_out);
  }
  CDevSim(const CDevSim&) = delete;
  CDevSim& operator=(const CDevSim&) = delete;

  // The first line of output, waiting at most 10 s for it.
  std::optional<std::string> FirstLine() {
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (text.find('\n') == std::string::npos) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd entry{m_out, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
      char buffer[256];
      ssize_t got = ::read(m_out, buffer, sizeof(buffer));
      if (got <= 0) return std::nullopt;
      text.append(buffer, static_cast<std::size_t>(got));
    }
    return text.substr(0, text.find('\n'));
  }

 private:
  pid_t m_pid = 0;
  int m_out = -1;
};

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
  EXPECT_EQ(RunCli(bus.Path(), status), path + "\tTavrix Quadrel Interface\n");
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
