#include "platform/shown_failure.h"

#include <mutex>

namespace {

std::mutex g_mutex;
std::optional<ShownFailure> g_failure;

}  // namespace

void NoteShownFailure(ShownFailure failure) {
  std::lock_guard lock(g_mutex);
  g_failure = std::move(failure);
}

std::optional<ShownFailure> LastShownFailure() {
  std::lock_guard lock(g_mutex);
  return g_failure;
}

void ForgetShownFailure() {
  std::lock_guard lock(g_mutex);
  g_failure.reset();
}
