#include "updater/updater_registry.h"

#include "updater/updater.h"
#include "wizard/wizard_state.h"

UpdaterRegistry& UpdaterRegistry::Instance() {
  static UpdaterRegistry registry;
  return registry;
}

void UpdaterRegistry::Register(const std::string& className, UpdaterFactory factory) {
  m_factories[className] = std::move(factory);
}

void UpdaterRegistry::Unregister(const std::string& className) { m_factories.erase(className); }

std::unique_ptr<CUpdater> UpdaterRegistry::Create(const std::string& className) const {
  auto it = m_factories.find(className);
  if (it == m_factories.end()) return nullptr;
  try {
    return it->second();
  } catch (...) {
    // A factory that fails yields no updater; the caller reports it as not created.
    return nullptr;
  }
}

bool CreateUpdater(const std::string& className) {
  WizardState& state = TheWizardState();
  state.Updater.reset();
  state.Updater = UpdaterRegistry::Instance().Create(className);
  return state.Updater != nullptr;
}
