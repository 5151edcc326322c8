#include "platform/clock.h"

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

void CSystemClock::Sleep(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::uint64_t CSystemClock::TickCount() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void CScaledClock::Sleep(std::uint32_t milliseconds) {
  auto scaled = static_cast<std::uint32_t>(std::lround(milliseconds * m_scale));
  if (scaled > 0) m_system.Sleep(scaled);
}

std::uint64_t CScaledClock::TickCount() { return m_system.TickCount(); }

void CVirtualClock::Sleep(std::uint32_t milliseconds) {
  std::lock_guard lock(m_mutex);
  m_now += milliseconds;
  m_waits.push_back(milliseconds);
}

std::uint64_t CVirtualClock::TickCount() {
  std::lock_guard lock(m_mutex);
  return m_now;
}

void CVirtualClock::Advance(std::uint64_t milliseconds) {
  std::lock_guard lock(m_mutex);
  m_now += milliseconds;
}

std::vector<std::uint32_t> CVirtualClock::Waits() const {
  std::lock_guard lock(m_mutex);
  return m_waits;
}

void CVirtualClock::ClearWaits() {
  std::lock_guard lock(m_mutex);
  m_waits.clear();
}

namespace {
CSystemClock g_systemClock;
std::atomic<IClock*> g_clock{&g_systemClock};
}  // namespace

IClock& Clock() { return *g_clock.load(); }

void SetClock(IClock* clock) { g_clock = clock != nullptr ? clock : &g_systemClock; }

double WaitScaleFromEnvironment() {
  const char* bus = std::getenv("TAVRIX_USB_BUS");
  const char* scale = std::getenv("TAVRIX_WAIT_SCALE");
  if (bus == nullptr || *bus == '\0' || scale == nullptr || *scale == '\0') return 1.0;
  char* end = nullptr;
  double value = std::strtod(scale, &end);
  if (end == scale || !std::isfinite(value)) return 1.0;
  return std::clamp(value, 0.0, 1.0);
}

void InstallClockFromEnvironment() {
  static CScaledClock* scaled = nullptr;
  double scale = WaitScaleFromEnvironment();
  if (scale >= 1.0) return;
  if (scaled == nullptr) scaled = new CScaledClock(scale);  // lives for the whole run
  SetClock(scaled);
}
