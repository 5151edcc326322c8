#pragma once
// Updaters are created by the class name written in the catalog.

#include <functional>
#include <map>
#include <memory>
#include <string>

class CUpdater;

using UpdaterFactory = std::function<std::unique_ptr<CUpdater>()>;

class UpdaterRegistry {
 public:
  static UpdaterRegistry& Instance();
  // Registers (or replaces) the factory for an exact, case-sensitive class name.
  void Register(const std::string& className, UpdaterFactory factory);
  void Unregister(const std::string& className);
  // A new instance, or nullptr for an unknown name or a factory that failed.
  std::unique_ptr<CUpdater> Create(const std::string& className) const;

 private:
  std::map<std::string, UpdaterFactory> m_factories;
};

// Destroys the current updater, then creates the named one as the wizard's current updater.
bool CreateUpdater(const std::string& className);

// Registers a device family's updater at start-up: `static RegisterUpdater<CUpdater2A1> r("CUpdater2A1");`
template <class T>
struct RegisterUpdater {
  explicit RegisterUpdater(const std::string& className) {
    UpdaterRegistry::Instance().Register(className, [] { return std::make_unique<T>(); });
  }
};
