#pragma once
// Updaters are created by the class name written in the catalog, and get the catalog entry
// they are made for (its Id, Name and USB product id name some families' devices).

#include <concepts>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CUpdater;
struct DeviceRecord;

using UpdaterFactory = std::function<std::unique_ptr<CUpdater>(const DeviceRecord& entry)>;

class UpdaterRegistry {
 public:
  static UpdaterRegistry& Instance();
  // Registers (or replaces) the factory for an exact, case-sensitive class name.
  void Register(const std::string& className, UpdaterFactory factory);
  // The same for a factory that needs no catalog entry.
  void Register(const std::string& className, std::function<std::unique_ptr<CUpdater>()> factory);
  void Unregister(const std::string& className);
  // A new instance for `entry`, or nullptr for an unknown name or a factory that failed.
  std::unique_ptr<CUpdater> Create(const std::string& className, const DeviceRecord& entry) const;
  // A new instance for an empty entry (families that need none, tests).
  std::unique_ptr<CUpdater> Create(const std::string& className) const;
  // The registered class names, sorted.
  std::vector<std::string> ClassNames() const;

 private:
  std::map<std::string, UpdaterFactory> m_factories;
};

// Registers a device family's updater at start-up: `static RegisterUpdater<CUpdater2A1> r("CUpdater2A1");`
// An updater constructible from the catalog entry gets it.
template <class T>
struct RegisterUpdater {
  explicit RegisterUpdater(const std::string& className) {
    UpdaterRegistry::Instance().Register(className, [](const DeviceRecord& entry) -> std::unique_ptr<CUpdater> {
      if constexpr (std::constructible_from<T, const DeviceRecord&>) {
        return std::make_unique<T>(entry);
      } else {
        return std::make_unique<T>();
      }
    });
  }
};
