#include "platform/settings_store.h"

#include <QSettings>
#include <QString>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "platform/input_file.h"

namespace {

QString Key(const std::string& section, const std::string& key) {
  return QString::fromStdString(section + "/" + key);
}

// The largest settings file read: a few values take a few hundred bytes.
constexpr std::uint64_t kMaxSettingsBytes = 1024 * 1024;

// The INI file through QSettings. A path that is no regular file (a named pipe would hold
// QSettings in open() for ever, a device would be read without end), or is larger than
// kMaxSettingsBytes, is left alone: every value then reads as its default and nothing is kept.
class CIniSettingsStore : public ISettingsStore {
 public:
  explicit CIniSettingsStore(const std::string& path) {
    std::string refusal = CInputFile::Check(path, kMaxSettingsBytes);
    if (refusal.empty()) {
      m_settings.emplace(QString::fromStdString(path), QSettings::IniFormat);
    } else {
      std::fprintf(stderr, "%s\n", refusal.c_str());
    }
  }

  int GetInt(const std::string& section, const std::string& key, int defaultValue) override {
    if (!m_settings) return defaultValue;
    bool ok = false;
    int value = m_settings->value(Key(section, key), defaultValue).toInt(&ok);
    return ok ? value : defaultValue;
  }
  void SetInt(const std::string& section, const std::string& key, int value) override {
    if (!m_settings) return;
    m_settings->setValue(Key(section, key), value);
    m_settings->sync();
  }
  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultValue) override {
    if (!m_settings) return defaultValue;
    return m_settings->value(Key(section, key), QString::fromStdString(defaultValue))
        .toString()
        .toStdString();
  }
  void SetString(const std::string& section, const std::string& key,
                 const std::string& value) override {
    if (!m_settings) return;
    m_settings->setValue(Key(section, key), QString::fromStdString(value));
    m_settings->sync();
  }

 private:
  std::optional<QSettings> m_settings;
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
  return std::make_unique<CIniSettingsStore>(base + "/" + company + "/" + application + ".ini");
}

ISettingsStore* SettingsStore() { return g_store.load(); }

void SetSettingsStore(ISettingsStore* store) { g_store = store; }
