#pragma once
// An emulated bus directory with the simulated devices served on it. Tests make one in a
// temporary folder and plug devices in; tavrix-devsim makes one from its command line.

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "sim/sim_device_server.h"

class CSimBus {
 public:
  // Creates the directory when it does not exist. Throws CSimError.
  explicit CSimBus(std::filesystem::path directory);
  ~CSimBus();
  CSimBus(const CSimBus&) = delete;
  CSimBus& operator=(const CSimBus&) = delete;

  const std::filesystem::path& Directory() const { return m_directory; }

  // Every device plugged in from now on writes its transcript to DIR/<device path>.transcript.
  void SetTranscriptDirectory(std::filesystem::path directory);

  // Puts the device on the bus and starts serving it. A device without a serial gets
  // "SIM<n>", n counting the devices plugged in (from 1). Throws CSimError.
  CSimDeviceServer& Plug(std::unique_ptr<CSimDevice> device);

  // Creates a device of type T and plugs it in: `auto& dev = bus.Plug<CScriptedSimDevice>(setup);`
  template <class T, class... Args>
  T& Plug(Args&&... args) {
    return static_cast<T&>(Plug(std::make_unique<T>(std::forward<Args>(args)...)).Device());
  }

  // Stops serving the device and forgets it.
  void Unplug(CSimDeviceServer& server);
  // Stops every device (also done by the destructor).
  void StopAll();

  std::vector<CSimDeviceServer*> Servers() const;
  // The server of the device plugged in as `device`, or nullptr.
  CSimDeviceServer* ServerOf(const CSimDevice& device) const;

 private:
  std::filesystem::path m_directory;
  std::optional<std::filesystem::path> m_transcriptDirectory;
  std::vector<std::unique_ptr<CSimDeviceServer>> m_servers;
  unsigned m_plugged = 0;
};
