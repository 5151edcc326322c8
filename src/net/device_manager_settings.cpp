#include "net/device_manager_settings.h"

#include <QSettings>
#include <QString>
#include <cstdlib>
#include <mutex>

namespace {

std::mutex g_mutex;
std::string g_directory;  // guarded by g_mutex

QString FilePath() {
  return QString::fromStdString(DeviceManagerDirectory() + "/Device Manager.ini");
}

// A value the file holds as a number, cut to the width of its field; the default when it is
// missing or not a number.
unsigned ReadNumber(QSettings& file, const char* name, unsigned defaultValue, unsigned mask) {
  bool ok = false;
  unsigned value = file.value(name).toUInt(&ok);
  return ok ? (value & mask) : defaultValue;
}

}  // namespace

std::string DeviceManagerDirectory() {
  {
    std::lock_guard lock(g_mutex);
    if (!g_directory.empty()) return g_directory;
  }
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    return std::string(xdg) + "/Tavrix";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return std::string(home) + "/.config/Tavrix";
  }
  return "/tmp/Tavrix";
}

void SetDeviceManagerDirectory(const std::string& directory) {
  std::lock_guard lock(g_mutex);
  g_directory = directory;
}

std::optional<CRemoteDeviceSettings> ReadRemoteDeviceSettings(const std::string& deviceKey) {
  QSettings file(FilePath(), QSettings::IniFormat);
  if (!file.childGroups().contains(QString::fromStdString(deviceKey))) return std::nullopt;
  file.beginGroup(QString::fromStdString(deviceKey));
  CRemoteDeviceSettings settings;
  settings.Address = file.value("Address").toString().toStdString();
  settings.Port = static_cast<std::uint16_t>(ReadNumber(file, "Port", 8080, 0xFFFF));
  settings.Name = file.value("Name").toString().toStdString();
  settings.Product = static_cast<std::uint16_t>(ReadNumber(file, "Product", 0, 0xFFFF));
  settings.UserMode = static_cast<std::uint8_t>(ReadNumber(file, "UserMode", 0, 0xFF));
  settings.Enabled = ReadNumber(file, "Enabled", 0, 0xFFFFFFFF) != 0;
  return settings;
}

bool WriteRemoteDeviceAddress(const std::string& deviceKey, const std::string& address,
                              std::uint16_t port) {
  QSettings file(FilePath(), QSettings::IniFormat);
  // Only a device the file already names is rewritten; a retry never invents a section.
  if (!file.childGroups().contains(QString::fromStdString(deviceKey))) return false;
  file.beginGroup(QString::fromStdString(deviceKey));
  file.setValue("Address", QString::fromStdString(address));
  file.setValue("Port", port);
  file.endGroup();
  file.sync();
  return file.status() == QSettings::NoError;
}

bool IsRemoteDeviceEnabled(const std::string& deviceKey) {
  std::optional<CRemoteDeviceSettings> settings = ReadRemoteDeviceSettings(deviceKey);
  return settings && settings->Enabled;
}
