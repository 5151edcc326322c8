#pragma once
// The remote device server settings of the devices that a server forwards over TCP: the file
// "Device Manager.ini" in the user's Tavrix configuration folder ($XDG_CONFIG_HOME/Tavrix/,
// else ~/.config/Tavrix/), one section per device key, written by hand or by the "Server
// Login" dialog when a person retries with another address:
//
//   [ZQ3351-9F]
//   Address=192.168.0.20
//   Port=8080
//   Name=SERVO-7
//   Product=0
//   UserMode=0
//   Enabled=1

#include <cstdint>
#include <optional>
#include <string>

struct CRemoteDeviceSettings {
  std::string Address;
  std::uint16_t Port = 8080;
  std::string Name;
  std::uint16_t Product = 0;
  std::uint8_t UserMode = 0;
  bool Enabled = false;
};

// The folder that holds the file (the user's Tavrix folder unless a test set another).
std::string DeviceManagerDirectory();
// Tests point the file elsewhere; empty goes back to the user's folder.
void SetDeviceManagerDirectory(const std::string& directory);

// The device's section; nothing when the file has no section of that key.
std::optional<CRemoteDeviceSettings> ReadRemoteDeviceSettings(const std::string& deviceKey);
// Stores Address and Port in the device's section; false when the file has no such section
// or cannot be written.
bool WriteRemoteDeviceAddress(const std::string& deviceKey, const std::string& address,
                              std::uint16_t port);
// The device's "Enabled" value; false when the section or the value is missing.
bool IsRemoteDeviceEnabled(const std::string& deviceKey);
