#include "updater/stop_request.h"

namespace {

std::atomic<bool> g_stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the request is set from a signal handler");

}  // namespace

void RequestProgrammingStop() noexcept { g_stopRequested.store(true); }

bool ProgrammingStopRequested() noexcept { return g_stopRequested.load(); }

void ClearProgrammingStop() noexcept { g_stopRequested.store(false); }

void StopIfRequested() {
  if (ProgrammingStopRequested()) throw CProgrammingStopped();
}
