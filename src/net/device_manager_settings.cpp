#include "net/device_manager_settings.h"

#include <QSettings>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/input_file.h"

namespace {

std::mutex g_mutex;
std::string g_directory;  // guarded by g_mutex

// The largest file read: a few sections take a few hundred bytes each.
constexpr std::uint64_t kMaxFileBytes = 1024 * 1024;

std::string FileName() { return DeviceManagerDirectory() + "/Device Manager.ini"; }

QString FilePath() { return QString::fromStdString(FileName()); }

// Whether QSettings may open the file: a path that is no regular file (a named pipe would
// hold it in open() for ever) or a file above kMaxFileBytes is left alone, and said so.
bool FileUsable() {
  std::string refusal = CInputFile::Check(FileName(), kMaxFileBytes);
  if (refusal.empty()) return true;
  std::fprintf(stderr, "%s\n", refusal.c_str());
  return false;
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
  if (!FileUsable()) return std::nullopt;
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
  if (!FileUsable()) return false;
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
