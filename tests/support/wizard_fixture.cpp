#include "support/wizard_fixture.h"

#include <clocale>

#include "platform/module_path.h"
#include "platform/settings_store.h"
#include "platform/string_table.h"
#include "wizard/the_app.h"
#include "wizard/wizard_state.h"

WizardFixture::WizardFixture() {
  ResetWizardState();
  SetModuleFileName(m_folder / "tavrix-update");
}

WizardFixture::~WizardFixture() {
  SetModuleFileName({});
  ResetWizardState();
  SetUiLanguage(LANG_ENGLISH);
  std::setlocale(LC_ALL, "C");
}

void WizardFixture::WriteCatalog(const std::string& xml) { m_folder.Write("tavrix-update.config", xml); }

void WizardFixture::StoreInt(const std::string& key, int value) {
  CreateIniSettingsStore("Tavrix", "Tavrix Update", SettingsDirectory())->SetInt("Settings", key, value);
}

void WizardFixture::StoreString(const std::string& key, const std::string& value) {
  CreateIniSettingsStore("Tavrix", "Tavrix Update", SettingsDirectory())->SetString("Settings", key, value);
}

int WizardFixture::StoredInt(const std::string& key, int fallback) const {
  return CreateIniSettingsStore("Tavrix", "Tavrix Update", SettingsDirectory())->GetInt("Settings", key, fallback);
}

bool WizardFixture::Run(const std::vector<std::string>& args) {
  CTheApp app(m_view, args, SettingsDirectory());
  return app.InitInstance();
}
