#pragma once
// A catalog naming each of the four 2A updaters, with its demo firmware beside it: what the
// end-to-end tests and the USB bridge tests update.

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/text_format.h"
#include "sim/demo_firmware.h"
#include "support/temp_folder.h"

struct C2ATestEntry {
  const char* id;
  const char* className;
  const char* file;
  std::uint16_t version;
  const char* variant;   // the variant option of the simulated device that takes it
  const char* download;  // as the device's record names it
};

inline constexpr C2ATestEntry k2ATestEntries[] = {
    {"QI-2A1", "CUpdater2A1", "quadrel-2a1.seg", 312, "1", "segment"},
    {"QI-2A2", "CUpdater2A2", "quadrel-2a2.seg", 312, "2", "segment"},
    {"QI-2A3", "CUpdater2A3", "quadrel-2a3.hex", 405, "3", "block"},
    {"QI-2AB", "CUpdater2AB", "quadrel-2ab.bin", 120, "3", "binary"},
};

inline std::filesystem::path FirmwarePath(const CTempFolder& folder, const C2ATestEntry& entry) {
  return folder.Path() / "firmware" / entry.file;
}

// Writes tavrix-update.config and the demo images into `folder`; the catalog's path.
inline std::string Write2ATestCatalog(const CTempFolder& folder) {
  std::string xml = "<Config><Devices>";
  for (const C2ATestEntry& entry : k2ATestEntries) {
    xml += FormatText("<Device Id=\"%s\" RTC=\"%s\" USBPID=\"0x7D2A\"><Name>2A</Name><Firmware>"
                      "<Version>%u</Version><File>firmware\\%s</File></Firmware></Device>",
                      entry.id, entry.className, entry.version, entry.file);
    WriteDemoFirmware(entry.className, entry.version, FirmwarePath(folder, entry).string());
  }
  return folder.Write("tavrix-update.config", xml + "</Devices></Config>");
}
