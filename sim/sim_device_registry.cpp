#include "sim/sim_device_registry.h"

#include "sim/sim_error.h"

CSimDeviceRegistry& CSimDeviceRegistry::Instance() {
  static CSimDeviceRegistry registry;
  return registry;
}

void CSimDeviceRegistry::Register(const std::string& kind, std::string summary,
                                  SimDeviceFactory factory) {
  m_kinds[kind] = {std::move(summary), std::move(factory)};
}

std::unique_ptr<CSimDevice> CSimDeviceRegistry::Create(CSimDeviceDescription description) const {
  auto it = m_kinds.find(description.Kind);
  if (it == m_kinds.end()) {
    std::string known;
    for (const auto& [kind, entry] : m_kinds) known += (known.empty() ? "" : ", ") + kind;
    throw CSimError("unknown device kind \"" + description.Kind + "\" (known: " + known + ")");
  }
  std::unique_ptr<CSimDevice> device = it->second.Factory(description.Options);
  std::vector<std::string> unused = description.Options.Unused();
  if (!unused.empty()) {
    std::string keys;
    for (const auto& key : unused) keys += (keys.empty() ? "" : ", ") + key;
    throw CSimError("device kind " + description.Kind + " has no option " + keys);
  }
  return device;
}

std::vector<std::pair<std::string, std::string>> CSimDeviceRegistry::Kinds() const {
  std::vector<std::pair<std::string, std::string>> kinds;
  for (const auto& [kind, entry] : m_kinds) kinds.emplace_back(kind, entry.Summary);
  return kinds;
}
