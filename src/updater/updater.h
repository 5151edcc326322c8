#pragma once
// The abstract updater every device family derives from, and the version rule.

#include <cstdint>
#include <optional>
#include <string>

struct DeviceRecord;
class IFlashProgress;

class CUpdater {
 public:
  virtual ~CUpdater() = default;
  // Opens the transport, finds the device and checks that it is the selected device type.
  virtual bool Connect() = 0;
  // The firmware version the device reported while connecting.
  virtual std::uint16_t GetFirmwareVersion() = 0;
  // The version of the application on the device; 0 for families without one.
  virtual std::uint16_t GetApplicationVersion() { return 0; }
  // Programs the image named by the record's FirmwarePath (and the application, if any).
  virtual bool Update(const DeviceRecord& record, IFlashProgress* progress) = 0;
  // Meets the device again after a programming that reported success, so that the versions it
  // reports can be read back: whatever the update left open is let go, a device that restarts
  // is given the time it needs, and the connect loop runs (bounded; simulation counts as not
  // connected). Afterwards GetFirmwareVersion and GetApplicationVersion give what the device
  // says now. False when the device did not come back as itself. Families whose Connect can
  // simply run again keep this default.
  virtual bool ConnectAgain() { return Connect(); }
  // A closing step after an update.
  virtual bool Finish() { return true; }
  // What the done page can offer to show after a failure (the servo download log); empty
  // when the updater keeps none.
  virtual std::string DownloadLog() const { return {}; }
  // The firmware version the device reported when the updater met it again after a successful
  // update (families that reconnect to the device after programming); nothing when the device
  // was not asked again.
  virtual std::optional<std::uint16_t> VersionAfterUpdate() const { return std::nullopt; }
};

// "%d.%02d" of version / 100 and version % 100: 123 shows as 1.23.
std::string FormatVersion(std::uint16_t version);

// Whether the device needs programming, by the catalog's versions. Unsigned comparisons;
// equal or newer is up to date. The application version counts only when the record has one.
bool NeedsProgramming(const DeviceRecord& record, std::uint16_t deviceFirmware,
                      std::uint16_t deviceApplication);
