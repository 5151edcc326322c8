#pragma once
// The program's persistent settings: sections of named integer and text values, kept for the
// user (the language choice, the remote device server's address).

#include <memory>
#include <string>

class ISettingsStore {
 public:
  virtual ~ISettingsStore() = default;
  virtual int GetInt(const std::string& section, const std::string& key, int defaultValue) = 0;
  virtual void SetInt(const std::string& section, const std::string& key, int value) = 0;
  virtual std::string GetString(const std::string& section, const std::string& key,
                                const std::string& defaultValue) = 0;
  virtual void SetString(const std::string& section, const std::string& key,
                         const std::string& value) = 0;
};

// An INI file, `<directory>/<company>/<application>.ini`. The directory defaults to the
// user's configuration folder (XDG_CONFIG_HOME, else ~/.config); tests give a temporary one.
std::unique_ptr<ISettingsStore> CreateIniSettingsStore(const std::string& company,
                                                       const std::string& application,
                                                       const std::string& directory = {});

// The store in use (none until SetSettingsStore is called; then not owned).
ISettingsStore* SettingsStore();
void SetSettingsStore(ISettingsStore* store);
