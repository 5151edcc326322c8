#pragma once
// tavrix-devsim as a child process for end-to-end tests: started with the given arguments,
// stopped (SIGTERM) when the object goes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

// Its first output line tells that the (first) device is served.
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
