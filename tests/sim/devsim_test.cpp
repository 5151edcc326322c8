// tavrix-devsim as a program: started, talked to over the bus, stopped by a signal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/raw_usb_peer.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

// The simulator in a child process, its output read through pipes with bounded waits.
class CDevSimProcess {
 public:
  explicit CDevSimProcess(const std::vector<std::string>& args) {
    int out[2], err[2];
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::string program = std::string(TAVRIX_BIN_DIR) + "/tavrix-devsim";
    std::vector<char*> argv{program.data()};
    std::vector<std::string> copies(args);
    for (auto& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    EXPECT_EQ(::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    m_out = out[0];
    m_err = err[0];
  }
  ~CDevSimProcess() {
    if (!m_status) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
    ::close(m_out);
    ::close(m_err);
  }

  // The next line of standard output, or nothing when none comes within the bound.
  std::optional<std::string> ReadLine(std::chrono::milliseconds bound = 10s) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (true) {
      if (std::size_t end = m_outText.find('\n'); end != std::string::npos) {
        std::string line = m_outText.substr(0, end);
        m_outText.erase(0, end + 1);
        return line;
      }
      if (!ReadSome(m_out, m_outText, deadline)) return std::nullopt;
    }
  }

  void Signal(int number) { ::kill(m_pid, number); }

  // The exit status once the program ended (its output read to the end), or nothing.
  std::optional<int> WaitExit(std::chrono::milliseconds bound = 10s) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (ReadSome(m_out, m_outText, deadline)) {
    }
    while (ReadSome(m_err, m_errText, deadline)) {
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m_status;
  }

  const std::string& Output() const { return m_outText; }
  const std::string& Errors() const { return m_errText; }

 private:
  // Appends what the pipe has; false at its end or at the deadline.
  static bool ReadSome(int fd, std::string& text, std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd pipe{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&pipe, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[4096];
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) return false;
    text.append(buffer, static_cast<std::size_t>(got));
    return true;
  }

  pid_t m_pid = 0;
  int m_out = -1;
  int m_err = -1;
  std::string m_outText, m_errText;
  std::optional<int> m_status;
};

class DevSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tavrix-devsim-XXXXXX";
    m_folder = ::mkdtemp(pattern);
    m_bus = m_folder / "bus";
  }
  void TearDown() override { std::filesystem::remove_all(m_folder); }

  std::vector<std::string> BusEntries() const {
    std::vector<std::string> names;
    if (!std::filesystem::exists(m_bus)) return names;
    for (const auto& entry : std::filesystem::directory_iterator(m_bus)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::filesystem::path m_folder;
  std::filesystem::path m_bus;
};

const char kGen1[] = "{0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4}";
const char kGen2[] = "{5b1e2c47-9d03-4a6f-8e21-3c7d90b4f152}";

TEST_F(DevSimTest, ServesDevicesUntilSigtermAndThenRemovesThem) {
  std::filesystem::path config = m_folder / "bench.conf";
  std::ofstream(config)
      << "# two devices from a file\n"
         "transcript "
      << (m_folder / "transcripts").string()
      << "\n"
         "device scripted:pid=0x4c17,serial=C1\n"
         "    rule=02>'MOTREVO 1.00'00\n"
         "device scripted:pid=0x7d2a,gen=1,name=\"Tavrix Quadrel Interface\",serial=Q1\n";
  CDevSimProcess devsim({"--bus", m_bus.string(), "--config", config.string(), "--device",
                         "scripted:pid=0x1184,gen=1,name=Demo,serial=A1,rule=04>!"});
  const std::string c1 = std::string("usb#vid_7a3c&pid_4c17#C1#") + kGen2;
  const std::string q1 = std::string("usb#vid_7a3c&pid_7d2a#Q1#") + kGen1;
  const std::string a1 = std::string("usb#vid_7a3c&pid_1184#A1#") + kGen1;
  for (const std::string& path : {c1, q1, a1}) {
    std::optional<std::string> line = devsim.ReadLine();
    ASSERT_TRUE(line) << devsim.Errors();
    EXPECT_EQ(line->rfind("serving " + path + "  kind=scripted", 0), 0u) << *line;
  }
  EXPECT_EQ(BusEntries(), (std::vector<std::string>{a1, a1 + ".name", c1, q1, q1 + ".name"}));

  CRawUsbPeer host;
  ASSERT_TRUE(host.Connect(m_bus / c1));
  host.SendFrame({0x02});
  EXPECT_EQ(host.ReceiveFrame(), (std::vector<std::uint8_t>{'M', 'O', 'T', 'R', 'E', 'V', 'O', ' ',
                                                            '1', '.', '0', '0', 0}));
  host.Close();

  devsim.Signal(SIGTERM);
  EXPECT_EQ(devsim.WaitExit(), 0) << devsim.Errors();
  EXPECT_TRUE(BusEntries().empty());

  std::ifstream transcript(m_folder / "transcripts" / (c1 + ".transcript"));
  std::stringstream text;
  text << transcript.rdbuf();
  EXPECT_NE(text.str().find("out             1  02  |.|"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("in             13  4D 4F 54"), std::string::npos) << text.str();
}

// Waits until a file named `name` is placed in `directory` (created or renamed into it).
bool WaitForPlacement(int inotify, const std::string& name, std::chrono::milliseconds bound) {
  auto deadline = std::chrono::steady_clock::now() + bound;
  alignas(inotify_event) char buffer[4096];
  while (true) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd fd{inotify, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0) return false;
    ssize_t got = ::read(inotify, buffer, sizeof buffer);
    for (ssize_t at = 0; at < got;) {
      auto* event = reinterpret_cast<inotify_event*>(buffer + at);
      if (event->len > 0 && name == event->name) return true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

TEST_F(DevSimTest, EjectedDeviceComesBackAfterItsScaledAwayTime) {
  // Ten minutes away, scaled to nothing: the device is back at once, or the wait scale failed.
  CDevSimProcess devsim({"--bus", m_bus.string(), "--wait-scale", "0", "--transcript",
                         (m_folder / "transcripts").string(), "--device",
                         "scripted:pid=0x3351,gen=1,serial=K1,away_ms=600000,rule=02>'K'00"});
  ASSERT_TRUE(devsim.ReadLine()) << devsim.Errors();
  const std::string path = std::string("usb#vid_7a3c&pid_3351#K1#") + kGen1;
  int inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  ASSERT_GE(::inotify_add_watch(inotify, m_bus.c_str(), IN_MOVED_TO), 0);

  CRawUsbPeer ejector;
  ASSERT_TRUE(ejector.Connect(m_bus / path));
  ejector.SendEject();
  ejector.Close();
  EXPECT_TRUE(WaitForPlacement(inotify, path, 10s));
  ::close(inotify);

  CRawUsbPeer host;
  ASSERT_TRUE(host.Connect(m_bus / path));
  host.SendFrame({0x02});
  EXPECT_EQ(host.ReceiveFrame(), (std::vector<std::uint8_t>{'K', 0}));
  host.Close();
  devsim.Signal(SIGTERM);
  EXPECT_EQ(devsim.WaitExit(), 0);

  std::ifstream transcript(m_folder / "transcripts" / (path + ".transcript"));
  std::stringstream text;
  text << transcript.rdbuf();
  std::size_t eject = text.str().find(" eject");
  std::size_t away = text.str().find(" away");
  std::size_t back = text.str().find(" back");
  EXPECT_LT(eject, away) << text.str();
  EXPECT_LT(away, back) << text.str();
  EXPECT_NE(back, std::string::npos) << text.str();
}

TEST_F(DevSimTest, SigintStopsItToo) {
  CDevSimProcess devsim({"--bus", m_bus.string(), "--device", "scripted:pid=1"});
  ASSERT_TRUE(devsim.ReadLine()) << devsim.Errors();
  EXPECT_EQ(BusEntries().size(), 1u);
  devsim.Signal(SIGINT);
  EXPECT_EQ(devsim.WaitExit(), 0);
  EXPECT_TRUE(BusEntries().empty());
}

TEST_F(DevSimTest, MistakesEndItWithAMessageAndNothingLeftOnTheBus) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {{"--device", "scripted:pid=1,serial=A", "--device", "scripted:pid=1,colour=red"},
       2,
       "device kind scripted has no option colour"},
      {{"--device", "gadget:pid=1"}, 2, "unknown device kind \"gadget\" (known: "},
      {{}, 2, "no device to serve"},
      {{"--device", "scripted:pid=1", "--wait-scale", "3"}, 2, "wait scale 3"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"--bus", m_bus.string()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    CDevSimProcess devsim(args);
    EXPECT_EQ(devsim.WaitExit(), c.status) << c.message;
    EXPECT_NE(devsim.Errors().find(c.message), std::string::npos) << devsim.Errors();
    EXPECT_TRUE(BusEntries().empty()) << c.message;
  }
}

TEST_F(DevSimTest, HelpAndKindsAreListed) {
  CDevSimProcess help({"--help"});
  EXPECT_EQ(help.WaitExit(), 0);
  EXPECT_NE(help.Output().find("--device KIND:OPTIONS"), std::string::npos);
  CDevSimProcess kinds({"--list-kinds"});
  EXPECT_EQ(kinds.WaitExit(), 0);
  std::string listed = "\n" + kinds.Output();
  for (const char* kind : {"2a", "scripted"}) {
    EXPECT_NE(listed.find(std::string("\n") + kind + "\t"), std::string::npos) << kind << ": " << kinds.Output();
  }
}

}  // namespace
