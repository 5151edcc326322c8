#include "platform/settings_store.h"

#include <QSettings>
#include <QString>
#include <atomic>
#include <cstdlib>

namespace {

QString Key(const std::string& section, const std::string& key) {
  return QString::fromStdString(section + "/" + key);
}

class CIniSettingsStore : public ISettingsStore {
 public:
  explicit CIniSettingsStore(const QString& path) : m_settings(path, QSettings::IniFormat) {}

  int GetInt(const std::string& section, const std::string& key, int defaultValue) override {
    bool ok = false;
    int value = m_settings.value(Key(section, key), defaultValue).toInt(&ok);
    return ok ? value : defaultValue;
  }
  void SetInt(const std::string& section, const std::string& key, int value) override {
    m_settings.setValue(Key(section, key), value);
    m_settings.sync();
  }
  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultValue) override {
    return m_settings.value(Key(section, key), QString::fromStdString(defaultValue))
        .toString()
        .toStdString();
  }
  void SetString(const std::string& section, const std::string& key,
                 const std::string& value) override {
    m_settings.setValue(Key(section, key), QString::fromStdString(value));
    m_settings.sync();
  }

 private:
  QSettings m_settings;
};

std::string UserConfigDirectory() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') return xdg;
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return std::string(home) + "/.config";
  }
  return "/tmp";
}

std::atomic<ISettingsStore*> g_store{nullptr};

}  // namespace

std::unique_ptr<ISettingsStore> CreateIniSettingsStore(const std::string& company,
                                                       const std::string& application,
                                                       const std::string& directory) {
  std::string base = directory.empty() ? UserConfigDirectory() : directory;
  return std::make_unique<CIniSettingsStore>(
      QString::fromStdString(base + "/" + company + "/" + application + ".ini"));
}

ISettingsStore* SettingsStore() { return g_store.load(); }

void SetSettingsStore(ISettingsStore* store) { g_store = store; }
