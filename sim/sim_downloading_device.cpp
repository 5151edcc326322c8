#include "sim/sim_downloading_device.h"

#include "sim/sim_error.h"
#include "updater/updater.h"

std::optional<std::filesystem::path> TakeSimRecordPath(CSimOptions& options) {
  std::optional<std::string> text = options.TakeText("record");
  if (!text) return std::nullopt;
  if (text->empty()) throw CSimError("option record= needs a file name");
  return std::filesystem::path(*text);
}

std::uint16_t TakeSimFirmware(CSimOptions& options, std::uint16_t defaultFirmware) {
  return static_cast<std::uint16_t>(options.TakeNumber("firmware", 0xFFFF).value_or(defaultFirmware));
}

std::string SimFirmwareNote(std::uint16_t firmware, bool replaced, bool untagged) {
  if (replaced) return "firmware now " + FormatVersion(firmware);
  return std::string(untagged ? "no version tag, " : "") + "the firmware stays " + FormatVersion(firmware);
}

void ThrowSimRecordFailed(const std::filesystem::path& path) {
  throw CSimError("cannot write the record file " + path.string());
}
