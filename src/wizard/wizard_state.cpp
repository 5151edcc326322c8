#include "wizard/wizard_state.h"

#include "updater/updater_registry.h"

namespace {
WizardState g_state;
}  // namespace

WizardState& TheWizardState() { return g_state; }

void ResetWizardState() {
  g_state.Updater.reset();
  g_state.Catalog.CloseCatalog();
  g_state.Catalog.Record() = DeviceRecord{};
  g_state.DebugMode = false;
  g_state.DeviceFirmwareVersion = 0;
  g_state.DeviceApplicationVersion = 0;
  g_state.ReportedFirmwareVersion = 0;
  g_state.ReportedApplicationVersion = 0;
  g_state.DoneMessageId = 37;
  g_state.Updated = false;
  g_state.FailureCause.clear();
  g_state.FailureMessageId = 0;
  g_state.FailureException.clear();
  g_state.UpdateBegan.reset();
  g_state.HistoryWarning.clear();
  g_state.VerifyAfterUpdate = true;
  g_state.VerifiedFirmwareVersion.reset();
  g_state.VerifiedApplicationVersion.reset();
}

std::optional<std::uint16_t> FirmwareReadBack(const WizardState& state) {
  if (state.VerifiedFirmwareVersion) return state.VerifiedFirmwareVersion;
  return state.Updater ? state.Updater->VersionAfterUpdate() : std::nullopt;
}

bool CreateUpdater(const std::string& className) {
  g_state.Updater.reset();
  g_state.Updater = UpdaterRegistry::Instance().Create(className, g_state.Catalog.Record());
  return g_state.Updater != nullptr;
}

CProgramBus::CProgramBus(std::unique_ptr<IUsbBus> bus) : m_bus(std::move(bus)), m_scope(*m_bus) {}

CProgramBus::~CProgramBus() { g_state.Updater.reset(); }
