#pragma once
// The core runs on a thread of its own; every window is drawn on the GUI thread. These helpers
// carry a call from the core's thread over to the GUI thread and, where the core needs an
// answer, block the core's thread (never the GUI thread) until the person has given it. Called
// on the GUI thread itself they run the call in place, waiting for an answer in a local event
// loop, so that tests can drive the windows directly.

#include <functional>

class CGuiThread {
 public:
  // Hands the answer of an asynchronous call back to the waiting thread; only the first call
  // counts.
  using Done = std::function<void(int)>;

  static bool IsCurrent();
  // Queues `call` on the GUI thread and returns at once.
  static void Post(std::function<void()> call);
  // Runs `call` on the GUI thread and returns once it has run.
  static void Run(const std::function<void()>& call);
  // Runs `start` on the GUI thread and returns the answer `start` (or a window it opened)
  // later hands to its Done function.
  static int Await(std::function<void(Done)> start);
};
