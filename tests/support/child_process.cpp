#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

extern char** environ;

namespace {

// The test's environment with `changes` applied, as NAME=VALUE strings.
std::vector<std::string> Environment(const std::map<std::string, std::string>& changes) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (equals == nullptr || changes.count(std::string(*entry, static_cast<std::size_t>(equals - *entry))) == 0) entries.emplace_back(*entry);
  }
  for (const auto& [name, value] : changes) entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (auto& text : strings) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

int StatusOf(int waitStatus) {
  return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

}  // namespace

CChildProcess::CChildProcess(const std::string& program, const std::vector<std::string>& args,
                             const std::map<std::string, std::string>& environment) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> envp = Environment(environment);
  // The signals a person's terminal sends at their defaults, as a program started there has
  // them, even when the tests run as a background job (which ignores SIGINT).
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, number);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  if (::posix_spawnp(&m_pid, program.c_str(), &actions, &attributes, Pointers(argv).data(), Pointers(envp).data()) != 0) {
    m_pid = -1;
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  m_output = out[0];
}

CChildProcess::~CChildProcess() {
  Stop();
  if (m_output >= 0) ::close(m_output);
}

std::optional<std::string> CChildProcess::ReadLine(std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (m_pending.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd entry{m_output, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
    char buffer[256];
    const ssize_t got = ::read(m_output, buffer, sizeof(buffer));
    if (got <= 0) return std::nullopt;
    m_pending.append(buffer, static_cast<std::size_t>(got));
  }
  const std::size_t end = m_pending.find('\n');
  std::string line = m_pending.substr(0, end);
  m_pending.erase(0, end + 1);
  return line;
}

std::optional<int> CChildProcess::WaitForExit(std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!m_status && m_pid > 0) {
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_status = StatusOf(status);
      m_signalled = WIFSIGNALED(status);
    } else if (std::chrono::steady_clock::now() >= deadline) {
      break;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  return m_status;
}

void CChildProcess::Signal(int number) const {
  if (m_pid > 0 && !m_status) ::kill(m_pid, number);
}

void CChildProcess::Stop() {
  if (m_pid <= 0 || m_status) return;
  ::kill(m_pid, SIGTERM);
  int status = 0;
  if (::waitpid(m_pid, &status, 0) == m_pid) {
    m_status = StatusOf(status);
    m_signalled = WIFSIGNALED(status);
  }
}
