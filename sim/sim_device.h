#pragma once
// The base of every simulated device. A family derives from it and writes its device program:
// synchronous code that runs on its own thread for each connection that carries data, reading
// the host's bytes and answering through CSimConnection. The device server (sim_device_server.h)
// puts it on the bus and handles probes, ejects and re-enumeration around it.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_connection.h"
#include "sim/sim_faults.h"
#include "sim/sim_transcript.h"
#include "sim/sim_usb_address.h"

struct CSimDeviceSetup {
  CSimUsbAddress Address;                   // an empty serial is filled in by the bus
  std::optional<std::string> FriendlyName;  // without one there is no .name file
  std::uint32_t AwayMilliseconds = 1000;    // time off the bus after an eject
  CSimFaultPlan Faults;
};

class CSimDevice {
 public:
  explicit CSimDevice(CSimDeviceSetup setup);
  virtual ~CSimDevice() = default;
  CSimDevice(const CSimDevice&) = delete;
  CSimDevice& operator=(const CSimDevice&) = delete;

  // The device's behaviour on one connection, run on that connection's thread once its first
  // frame is in (probe opens and ejects never start it). It ends by returning (the device
  // then stays silent until the host closes) or by CSimDisconnected. Several connections may
  // run at once: guard state they share with StateMutex().
  virtual void RunProgram(CSimConnection& io) = 0;

  // Called while the device is off the bus after an eject, just before it comes back: a
  // family changes here what it reports afterwards (a new firmware version, another name or
  // address via SetFriendlyName/SetAddress).
  virtual void Reenumerate() {}

  // A few words for tavrix-devsim's line about the device (variant, firmware, ...).
  virtual std::string Describe() const { return {}; }

  CSimUsbAddress Address() const;
  // Takes effect when the device next enters the bus.
  void SetAddress(const CSimUsbAddress& address);
  std::optional<std::string> FriendlyName() const;
  void SetFriendlyName(std::optional<std::string> name);
  std::uint32_t AwayMilliseconds() const;
  void SetAwayMilliseconds(std::uint32_t milliseconds);

  CSimFaults& Faults() { return m_faults; }
  CSimTranscript& Transcript() { return m_transcript; }

  // The identity text to answer with: the fault plan's other identity when one is set,
  // otherwise `own`.
  std::string Identity(const std::string& own) const;

  // Protocol violations by the host seen so far (also in the transcript as notes).
  void ReportViolation(std::uint32_t connection, const std::string& text);
  std::vector<std::string> Violations() const;

 protected:
  std::mutex& StateMutex() const { return m_stateMutex; }

 private:
  mutable std::mutex m_mutex;  // the members below
  CSimUsbAddress m_address;
  std::optional<std::string> m_friendlyName;
  std::uint32_t m_awayMilliseconds;
  std::vector<std::string> m_violations;

  mutable std::mutex m_stateMutex;
  CSimFaults m_faults;
  CSimTranscript m_transcript;
};
