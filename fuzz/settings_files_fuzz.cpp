// The two INI files the program reads, on arbitrary bytes: "Device Manager.ini" (the remote
// device server's settings) and the program's own settings file. The first input byte picks
// the file. Checked: reading any text gives numbers cut to their fields; a device section
// that is there takes a new address and port, which read back as written with the section's
// other values kept; the program's own values read back as written, also through a second
// store opened on the same file afterwards.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "net/device_manager_settings.h"
#include "platform/settings_store.h"

namespace {

// A folder of its own for each input, removed afterwards: the settings layer keeps what it
// read of a file by path and may take a file rewritten within the same instant for unchanged.
class CInputFolder {
 public:
  CInputFolder() {
    static unsigned long count = 0;
    m_path = ScratchFolder() + "/" + std::to_string(++count);
    std::filesystem::create_directories(m_path + "/Tavrix");
  }
  ~CInputFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

// A key for the section: the input's first line when it is a plain name, else the usual key.
std::string SectionKey(std::string_view text) {
  std::string_view line = text.substr(0, text.find('\n'));
  if (line.size() > 2 && line.front() == '[' && line.back() == ']') line = line.substr(1, line.size() - 2);
  for (char c : line) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_')) return "ZQ3351-9F";
  }
  return line.empty() ? std::string("ZQ3351-9F") : std::string(line);
}

void CheckDeviceManager(std::string_view text, std::uint16_t port) {
  CInputFolder input;
  const std::string folder = input.Path() + "/Tavrix";
  SetDeviceManagerDirectory(folder);
  WriteScratchFile(folder + "/Device Manager.ini", text);
  const std::string key = SectionKey(text);
  const std::optional<CRemoteDeviceSettings> before = ReadRemoteDeviceSettings(key);
  if (IsRemoteDeviceEnabled(key) != (before && before->Enabled)) std::abort();
  (void)ReadRemoteDeviceSettings("no-such-device");
  const std::string address = "10.1.2." + std::to_string(port % 256);
  const bool written = WriteRemoteDeviceAddress(key, address, port);
  if (!before) {
    if (written) std::abort();  // a retry never invents a section
    return;
  }
  if (!written) return;  // the file could not be written back; nothing to compare
  const std::optional<CRemoteDeviceSettings> after = ReadRemoteDeviceSettings(key);
  if (!after || after->Address != address || after->Port != port) std::abort();
  if (after->Name != before->Name || after->Product != before->Product || after->UserMode != before->UserMode ||
      after->Enabled != before->Enabled) {
    std::abort();
  }
}

void CheckSettingsStore(std::string_view text, std::uint16_t number) {
  CInputFolder input;
  const std::string& folder = input.Path();
  WriteScratchFile(folder + "/Tavrix/Update.ini", text);
  const std::string value = "v" + std::to_string(number) + " \"quoted\"; ; =x";
  {
    std::unique_ptr<ISettingsStore> store = CreateIniSettingsStore("Tavrix", "Update", folder);
    (void)store->GetInt("Settings", "LangID", 1033);
    (void)store->GetString("Settings", "LastDevice", "none");
    store->SetInt("Settings", "LangID", number);
    if (store->GetInt("Settings", "LangID", -1) != number) std::abort();
    store->SetString("Remote", "Address", value);
    if (store->GetString("Remote", "Address", {}) != value) std::abort();
  }
  std::unique_ptr<ISettingsStore> reopened = CreateIniSettingsStore("Tavrix", "Update", folder);
  if (reopened->GetInt("Settings", "LangID", -1) != number) std::abort();
  if (reopened->GetString("Remote", "Address", {}) != value) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CSilentUserInterface ui;
  SetUserInterface(&ui);
  if (size < 3) return 0;
  const std::uint16_t number = static_cast<std::uint16_t>(data[1] | (data[2] << 8));
  const std::string_view text(reinterpret_cast<const char*>(data) + 3, size - 3);
  if (data[0] & 1) {
    CheckSettingsStore(text, number);
  } else {
    CheckDeviceManager(text, number);
  }
  return 0;
}
