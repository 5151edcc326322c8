#pragma once
// Another run of this program as a worker: started with its own arguments, standard input
// from /dev/null, its standard output and standard error read line by line through pipes.
// A worker that crashes or stalls touches no other worker and not the program that started it.

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class CWorkerProcess {
 public:
  CWorkerProcess() = default;
  ~CWorkerProcess();
  CWorkerProcess(const CWorkerProcess&) = delete;
  CWorkerProcess& operator=(const CWorkerProcess&) = delete;

  // Starts `program` with `args`; false, with the reason in `error`, when it cannot be started.
  bool Start(const std::string& program, const std::vector<std::string>& args, std::string& error);
  bool Running() const { return m_pid > 0; }
  // The pipes still open, for poll(); -1 for a closed one.
  int OutFd() const { return m_out; }
  int ErrFd() const { return m_err; }
  // Reads what is there on `fd` and hands over every complete line (the last one also when
  // the pipe has ended). False once the pipe has ended.
  bool ReadLines(int fd, const std::function<void(const std::string& line)>& onLine);
  // Waits for the worker to end once both pipes have ended; its exit status, or 128 + signal.
  int Wait();
  // Ends a worker that has to stop.
  void Kill();
  // Asks the worker to stop at its next safe point.
  void Terminate();

 private:
  pid_t m_pid = -1;
  int m_out = -1;
  int m_err = -1;
  std::string m_outRest;
  std::string m_errRest;
};

// The program to start as a worker: this program itself, found through /proc/self/exe, or
// tavrix-update-cli beside it when the running program has another name (tests run the
// commands in-process).
std::string WorkerProgram();

// Runs every worker to its end, reading all of their pipes together. `onOut` and `onErr` get
// each line with the worker's index; `onEnd` gets the exit status and may start the worker
// again (with other arguments) by returning them.
struct WorkerCallbacks {
  std::function<void(std::size_t worker, const std::string& line)> onOut;
  std::function<void(std::size_t worker, const std::string& line)> onErr;
  std::function<std::optional<std::vector<std::string>>(std::size_t worker, int status)> onEnd;
  // Called about every tenth of a second while workers run (redraws).
  std::function<void()> onTick;
  // Called once when Ctrl+C came; the workers handle it themselves and are waited for.
  std::function<void()> onInterrupt;
};
// 0, or the exit status the signals met say: 130 after Ctrl+C, 143 after SIGTERM or SIGHUP.
int RunWorkers(std::vector<std::vector<std::string>> firstArgs, const WorkerCallbacks& callbacks);
