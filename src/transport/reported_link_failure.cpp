#include "transport/reported_link_failure.h"

#include <mutex>

namespace {

std::mutex g_mutex;
std::optional<ReportedLinkFailure> g_failure;

}  // namespace

void NoteReportedLinkFailure(ReportedLinkFailure failure) {
  std::lock_guard lock(g_mutex);
  g_failure = std::move(failure);
}

std::optional<ReportedLinkFailure> LastReportedLinkFailure() {
  std::lock_guard lock(g_mutex);
  return g_failure;
}

void ForgetReportedLinkFailure() {
  std::lock_guard lock(g_mutex);
  g_failure.reset();
}
