#include "updater/updater.h"

#include "platform/text_format.h"
#include "updater/device_catalog.h"

std::string FormatVersion(std::uint16_t version) {
  return FormatText("%d.%02d", version / 100, version % 100);
}

bool NeedsProgramming(const DeviceRecord& record, std::uint16_t deviceFirmware,
                      std::uint16_t deviceApplication) {
  if (record.HasApplication && deviceApplication < record.ApplicationVersion) return true;
  return deviceFirmware < record.FirmwareVersion;
}
