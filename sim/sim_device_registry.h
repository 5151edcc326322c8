#pragma once
// Simulated device kinds by name, so that tavrix-devsim can start any of them. A family adds
// itself with one line in its own source file:
//
//   static RegisterSimDevice<CSim2A> registration("2a", "2A interface (variant=1..3)");
//
// The type needs a constructor taking CSimOptions& that takes its options (the generic ones
// through CSimOptions::TakeSetup with the family's defaults).

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_options.h"

using SimDeviceFactory = std::function<std::unique_ptr<CSimDevice>(CSimOptions& options)>;

class CSimDeviceRegistry {
 public:
  static CSimDeviceRegistry& Instance();

  void Register(const std::string& kind, std::string summary, SimDeviceFactory factory);
  // The device the description names. Throws CSimError for an unknown kind, a bad option,
  // or an option the kind does not know.
  std::unique_ptr<CSimDevice> Create(CSimDeviceDescription description) const;
  // Kind names with their one-line summaries, sorted by name.
  std::vector<std::pair<std::string, std::string>> Kinds() const;

 private:
  struct Entry {
    std::string Summary;
    SimDeviceFactory Factory;
  };
  std::map<std::string, Entry> m_kinds;
};

template <class T>
struct RegisterSimDevice {
  RegisterSimDevice(const std::string& kind, std::string summary) {
    CSimDeviceRegistry::Instance().Register(
        kind, std::move(summary), [](CSimOptions& options) -> std::unique_ptr<CSimDevice> {
          return std::make_unique<T>(options);
        });
  }
};
