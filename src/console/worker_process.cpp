#include "console/worker_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>

extern char** environ;

namespace {

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

CWorkerProcess::~CWorkerProcess() {
  if (m_pid > 0) {
    Kill();
    Wait();
  }
  CloseFd(m_out);
  CloseFd(m_err);
}

bool CWorkerProcess::Start(const std::string& program, const std::vector<std::string>& args, std::string& error) {
  int out[2];
  int err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (::pipe2(err, O_CLOEXEC) != 0) {
    error = std::strerror(errno);
    ::close(out[0]);
    ::close(out[1]);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int result = ::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  if (result != 0) {
    error = std::strerror(result);
    m_pid = -1;
    ::close(out[0]);
    ::close(err[0]);
    return false;
  }
  // Read without blocking: the loop that reads several workers never stalls on one of them.
  ::fcntl(out[0], F_SETFL, O_NONBLOCK);
  ::fcntl(err[0], F_SETFL, O_NONBLOCK);
  m_out = out[0];
  m_err = err[0];
  m_outRest.clear();
  m_errRest.clear();
  return true;
}

bool CWorkerProcess::ReadLines(int fd, const std::function<void(const std::string&)>& onLine) {
  std::string& rest = fd == m_out ? m_outRest : m_errRest;
  char buffer[4096];
  ssize_t got = ::read(fd, buffer, sizeof(buffer));
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (got > 0) {
    rest.append(buffer, static_cast<std::size_t>(got));
    for (auto end = rest.find('\n'); end != std::string::npos; end = rest.find('\n')) {
      onLine(rest.substr(0, end));
      rest.erase(0, end + 1);
    }
    return true;
  }
  if (!rest.empty()) onLine(rest);
  rest.clear();
  CloseFd(fd == m_out ? m_out : m_err);
  return false;
}

int CWorkerProcess::Wait() {
  if (m_pid <= 0) return -1;
  int status = 0;
  while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
  }
  m_pid = -1;
  CloseFd(m_out);
  CloseFd(m_err);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

void CWorkerProcess::Kill() {
  if (m_pid > 0) ::kill(m_pid, SIGKILL);
}

void CWorkerProcess::Terminate() {
  if (m_pid > 0) ::kill(m_pid, SIGTERM);
}

std::string WorkerProgram() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "tavrix-update-cli";
  if (self.filename() == "tavrix-update-cli") return self.string();
  return (self.parent_path() / "tavrix-update-cli").string();
}

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
volatile std::sig_atomic_t g_terminated = 0;

void NoteSignal(int signal) { (signal == SIGINT ? g_interrupted : g_terminated) = 1; }

// While workers run, Ctrl+C reaches them as well (the terminal sends it to the whole process
// group), and each handles it as a single update does: one that is programming its device
// warns first and stops only at a second one, at a safe point. This program must not end under
// them, or their next line would meet a closed pipe and end them half-way: it notes the
// interrupt and waits for every worker. SIGTERM and SIGHUP, sent to this program alone, are
// passed on to the workers, which stop at their next safe point.
class CWaitThroughSignals {
 public:
  CWaitThroughSignals() {
    g_interrupted = 0;
    g_terminated = 0;
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kNoted); ++i) sigaction(kNoted[i], &action, &m_previous[i]);
    action.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &action, &m_previousPipe);
  }
  ~CWaitThroughSignals() {
    for (std::size_t i = 0; i < std::size(kNoted); ++i) sigaction(kNoted[i], &m_previous[i], nullptr);
    sigaction(SIGPIPE, &m_previousPipe, nullptr);
  }
  CWaitThroughSignals(const CWaitThroughSignals&) = delete;
  CWaitThroughSignals& operator=(const CWaitThroughSignals&) = delete;

  // True once, after the first interrupt.
  bool NewlyInterrupted() { return Newly(g_interrupted, m_interruptTold); }
  // True once, after the first SIGTERM or SIGHUP.
  bool NewlyTerminated() { return Newly(g_terminated, m_terminateTold); }
  int Status() const { return g_terminated ? 143 : g_interrupted ? 130 : 0; }

 private:
  static constexpr int kNoted[] = {SIGINT, SIGTERM, SIGHUP};
  static bool Newly(volatile std::sig_atomic_t& flag, bool& told) {
    if (!flag || told) return false;
    told = true;
    return true;
  }

  struct sigaction m_previous[std::size(kNoted)] {};
  struct sigaction m_previousPipe {};
  bool m_interruptTold = false;
  bool m_terminateTold = false;
};

}  // namespace

int RunWorkers(std::vector<std::vector<std::string>> firstArgs, const WorkerCallbacks& callbacks) {
  CWaitThroughSignals signals;
  const std::string program = WorkerProgram();
  std::vector<std::unique_ptr<CWorkerProcess>> workers;
  auto start = [&](std::size_t index, const std::vector<std::string>& args) {
    std::string error;
    if (workers[index]->Start(program, args, error)) return true;
    callbacks.onErr(index, "cannot start " + program + ": " + error);
    return false;
  };
  // A worker that cannot start ends at once with status 127, as a shell would say.
  auto end = [&](std::size_t index, int status) {
    while (auto again = callbacks.onEnd(index, status)) {
      if (start(index, *again)) return;
      status = 127;
    }
  };
  for (std::size_t i = 0; i < firstArgs.size(); ++i) {
    workers.push_back(std::make_unique<CWorkerProcess>());
    if (!start(i, firstArgs[i])) end(i, 127);
  }
  while (true) {
    std::vector<pollfd> fds;
    std::vector<std::size_t> owners;
    for (std::size_t i = 0; i < workers.size(); ++i) {
      for (int fd : {workers[i]->OutFd(), workers[i]->ErrFd()}) {
        if (fd < 0) continue;
        fds.push_back({fd, POLLIN, 0});
        owners.push_back(i);
      }
    }
    if (fds.empty()) break;
    ::poll(fds.data(), fds.size(), 100);
    for (std::size_t k = 0; k < fds.size(); ++k) {
      if (fds[k].revents == 0) continue;
      std::size_t i = owners[k];
      CWorkerProcess& worker = *workers[i];
      bool isOut = fds[k].fd == worker.OutFd();
      worker.ReadLines(fds[k].fd, [&](const std::string& line) { (isOut ? callbacks.onOut : callbacks.onErr)(i, line); });
      if (worker.OutFd() < 0 && worker.ErrFd() < 0 && worker.Running()) end(i, worker.Wait());
    }
    if (signals.NewlyInterrupted() && callbacks.onInterrupt) callbacks.onInterrupt();
    if (signals.NewlyTerminated()) {
      for (const auto& worker : workers) worker->Terminate();
    }
    if (callbacks.onTick) callbacks.onTick();
  }
  return signals.Status();
}
