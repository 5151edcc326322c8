#pragma once
// Runs the core — start-up, the wizard's modal run, the updaters' blocking I/O — on a thread
// of its own. When the core returns, the wizard window may close and the GUI thread's event
// loop ends with the core's exit code.

#include <atomic>
#include <functional>
#include <thread>

class CWizardWindow;

class CCoreThread {
 public:
  // Starts `core` at once. An exception escaping it is reported on standard error and ends
  // the program with exit code 1.
  CCoreThread(CWizardWindow& window, std::function<int()> core);
  // Waits for the core (see Wait).
  ~CCoreThread();
  CCoreThread(const CCoreThread&) = delete;
  CCoreThread& operator=(const CCoreThread&) = delete;

  // Call on the GUI thread once its event loop has ended: goes on dispatching events until
  // the core has ended, so that a core still at work keeps its windows, then joins it.
  void Wait();
  bool IsDone() const { return m_done; }
  int ExitCode() const { return m_exitCode; }

 private:
  void Run(const std::function<int()>& core);

  CWizardWindow& m_window;
  std::atomic<bool> m_done{false};
  std::atomic<int> m_exitCode{0};
  std::thread m_thread;
};
