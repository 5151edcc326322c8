#pragma once
// How the terminal front end meets Ctrl+C (SIGINT), SIGTERM and SIGHUP (the terminal closed).
// While a device is being programmed, the first Ctrl+C only says that stopping now may leave
// the device without working firmware and that a second one stops anyway; the update goes on.
// A second Ctrl+C, SIGTERM or SIGHUP asks the update to stop at its next safe point, between
// two units of transfer. Outside programming each ends the program at once: 130 after SIGINT,
// 143 after SIGTERM and SIGHUP.

class CProgrammingSignals {
 public:
  // Installs the handlers for the lifetime of the object.
  CProgrammingSignals();
  ~CProgrammingSignals();
  CProgrammingSignals(const CProgrammingSignals&) = delete;
  CProgrammingSignals& operator=(const CProgrammingSignals&) = delete;

  // Whether a device is being programmed now.
  void SetProgramming(bool programming);
  // The exit status of an update stopped by a signal: 130 or 143; 0 when none stopped it.
  static int StopStatus();
};
