#include "updater/updater_registry.h"

#include "updater/device_catalog.h"
#include "updater/updater.h"

UpdaterRegistry& UpdaterRegistry::Instance() {
  static UpdaterRegistry registry;
  return registry;
}

void UpdaterRegistry::Register(const std::string& className, UpdaterFactory factory) {
  m_factories[className] = std::move(factory);
}

void UpdaterRegistry::Register(const std::string& className, std::function<std::unique_ptr<CUpdater>()> factory) {
  Register(className, [factory = std::move(factory)](const DeviceRecord&) { return factory(); });
}

void UpdaterRegistry::Unregister(const std::string& className) { m_factories.erase(className); }

std::unique_ptr<CUpdater> UpdaterRegistry::Create(const std::string& className) const {
  return Create(className, DeviceRecord{});
}

std::unique_ptr<CUpdater> UpdaterRegistry::Create(const std::string& className, const DeviceRecord& entry) const {
  auto it = m_factories.find(className);
  if (it == m_factories.end()) return nullptr;
  try {
    return it->second(entry);
  } catch (...) {
    // A factory that fails yields no updater; the caller reports it as not created.
    return nullptr;
  }
}

std::vector<std::string> UpdaterRegistry::ClassNames() const {
  std::vector<std::string> names;
  for (const auto& [name, factory] : m_factories) names.push_back(name);
  return names;
}
