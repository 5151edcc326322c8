#pragma once
// A request from outside an update (Ctrl+C pressed twice, the program told to end) to stop
// programming at the next safe point: between two units of transfer, never inside one. The
// places where one unit ends and the next begins ask StopIfRequested(); the update then ends
// as a failure whose cause says that it was stopped and that the device is incomplete.

#include <atomic>

#include "transport/stream_exception.h"

// What an update stopped on request raises; its message says what it means for the device.
class CProgrammingStopped : public CStreamException {
 public:
  static constexpr int kMessageId = 23760;
  CProgrammingStopped() noexcept : CStreamException(kMessageId) {}
};

// Safe to call from a signal handler.
void RequestProgrammingStop() noexcept;
bool ProgrammingStopRequested() noexcept;
void ClearProgrammingStop() noexcept;
// Raises CProgrammingStopped when a stop was requested.
void StopIfRequested();
