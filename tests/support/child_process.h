#pragma once
// A program the tests run beside themselves (the simulator, an X server, the wizard): started
// with its own arguments and environment additions, its standard output readable line by line,
// its end awaited with a bound, and stopped with SIGTERM when the object goes.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

class CChildProcess {
 public:
  // Runs `program` (a path, or a name looked up in PATH) with `args`; `environment` adds to
  // (or replaces in) the test's own.
  // Started() is false when it could not be run.
  CChildProcess(const std::string& program, const std::vector<std::string>& args,
                const std::map<std::string, std::string>& environment = {});
  ~CChildProcess();
  CChildProcess(const CChildProcess&) = delete;
  CChildProcess& operator=(const CChildProcess&) = delete;

  bool Started() const { return m_pid > 0; }
  // The next line of standard output, waiting at most `bound` for it.
  std::optional<std::string> ReadLine(std::chrono::milliseconds bound);
  // The exit status once the program ended within `bound` (128 + N when signal N ended it).
  std::optional<int> WaitForExit(std::chrono::milliseconds bound);
  // Whether a signal ended it (WaitForExit then says 128 + N, as a program that exits with
  // that status would).
  bool EndedBySignal() const { return m_signalled; }
  // Sends the signal `number` to the program.
  void Signal(int number) const;
  // Asks the program to end (SIGTERM) and waits for it.
  void Stop();

 private:
  pid_t m_pid = -1;
  int m_output = -1;
  std::string m_pending;  // output read past the last line handed out
  std::optional<int> m_status;
  bool m_signalled = false;
};
