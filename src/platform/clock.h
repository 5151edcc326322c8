#pragma once
// Every device-side wait and tick count goes through the clock port, so that tests run on a
// virtual clock that returns at once and records each wait, and a simulated setup can
// shorten the waits (TAVRIX_WAIT_SCALE).

#include <cstdint>
#include <mutex>
#include <vector>

class IClock {
 public:
  virtual ~IClock() = default;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  // Milliseconds since an arbitrary start, like the platform's tick count.
  virtual std::uint64_t TickCount() = 0;
};

// Real time: sleeps for real, ticks from the steady clock.
class CSystemClock : public IClock {
 public:
  void Sleep(std::uint32_t milliseconds) override;
  std::uint64_t TickCount() override;
};

// Sleeps the given fraction of every wait (0 <= scale <= 1); ticks stay real.
class CScaledClock : public IClock {
 public:
  explicit CScaledClock(double scale) : m_scale(scale) {}
  void Sleep(std::uint32_t milliseconds) override;
  std::uint64_t TickCount() override;
  double Scale() const { return m_scale; }

 private:
  double m_scale;
  CSystemClock m_system;
};

// Returns at once from every wait, advancing its own time by the wait, and records the waits.
class CVirtualClock : public IClock {
 public:
  void Sleep(std::uint32_t milliseconds) override;
  std::uint64_t TickCount() override;
  // Moves time on without recording a wait (for polling loops driven by a test).
  void Advance(std::uint64_t milliseconds);
  std::vector<std::uint32_t> Waits() const;
  void ClearWaits();

 private:
  mutable std::mutex m_mutex;
  std::uint64_t m_now = 0;
  std::vector<std::uint32_t> m_waits;
};

// The clock in use; the system clock until SetClock names another.
IClock& Clock();
// Installs `clock` (not owned; nullptr restores the system clock).
void SetClock(IClock* clock);

// The wait scale the environment asks for: TAVRIX_WAIT_SCALE, honoured only together with
// TAVRIX_USB_BUS (a simulated setup). Real devices always get their full waits: 1.0.
double WaitScaleFromEnvironment();
// Installs a scaled clock when WaitScaleFromEnvironment() is below 1.
void InstallClockFromEnvironment();

// Installs a clock for the lifetime of a scope (tests).
class CClockScope {
 public:
  explicit CClockScope(IClock& clock) : m_previous(&Clock()) { SetClock(&clock); }
  ~CClockScope() { SetClock(m_previous); }
  CClockScope(const CClockScope&) = delete;
  CClockScope& operator=(const CClockScope&) = delete;

 private:
  IClock* m_previous;
};
