#include "sim/demo_devices.h"

#include <pugixml.hpp>

#include <map>
#include <optional>

#include "platform/text_format.h"
#include "sim/demo_firmware.h"
#include "sim/sim_device.h"
#include "sim/sim_device_registry.h"
#include "sim/sim_error.h"
#include "updater/device_catalog.h"

namespace {

// How far behind the catalog the demo devices start, in hundredths.
constexpr std::uint16_t kVersionsBehind = 5;

// The device of `description`, or nothing when its kind cannot make it so.
std::unique_ptr<CSimDevice> TryCreate(const std::string& description) {
  try {
    return CSimDeviceRegistry::Instance().Create(ParseSimDeviceDescription(description));
  } catch (const CSimError&) {
    return nullptr;
  }
}

// Each product id with the first kind (by name) whose default device has it.
std::map<std::uint16_t, std::string> KindsByProductId() {
  std::map<std::uint16_t, std::string> kinds;
  for (const auto& [kind, summary] : CSimDeviceRegistry::Instance().Kinds()) {
    if (std::unique_ptr<CSimDevice> device = TryCreate(kind + ":")) kinds.emplace(device->Address().ProductId, kind);
  }
  return kinds;
}

}  // namespace

CDemoDevicePlan PlanDemoDevices(const std::filesystem::path& catalog) {
  pugi::xml_document document;
  pugi::xml_parse_result parsed = document.load_file(catalog.c_str());
  if (!parsed) throw CSimError("cannot read the device catalog " + catalog.string() + ": " + parsed.description());

  const std::map<std::uint16_t, std::string> kinds = KindsByProductId();
  std::map<std::string, std::string> plugged;  // kind -> the Device it was plugged in for
  CDemoDevicePlan plan;
  for (const pugi::xpath_node& item : document.select_nodes("/Config/Devices/Device")) {
    CDemoDevice device{item.node().attribute("Id").value(), item.node().attribute("RTC").value(), {}};
    auto note = [&](const std::string& why) { plan.Notes.push_back(device.DeviceId + " (" + device.ClassName + "): " + why); };
    if (!HasDemoFirmware(device.ClassName)) {
      note("no demo firmware for this updater class");
      continue;
    }
    const std::uint16_t productId = ParseCatalogNumber(item.node().attribute("USBPID").value());
    if (productId == 0) {
      // Network units are reached by address, not on the bus (DEMO_DEVICE=ID scripts/demo.sh).
      note("not a USB device");
      continue;
    }
    auto kind = kinds.find(productId);
    if (kind == kinds.end()) {
      note(FormatText("no simulated device kind has the product id 0x%04X", productId));
      continue;
    }
    auto [earlier, added] = plugged.emplace(kind->second, device.DeviceId);
    if (!added) {
      note("its family's device is plugged in for " + earlier->second);
      continue;
    }
    const std::uint16_t version = ParseCatalogNumber(item.node().child("Firmware").child("Version").text().get());
    const unsigned older = version > kVersionsBehind ? version - kVersionsBehind : 0;
    device.Description = FormatText("%s:firmware=%u", kind->second.c_str(), older);
    if (!TryCreate(device.Description)) {
      note("its kind takes no firmware= option: it starts on its own default version");
      device.Description = kind->second + ":";
    }
    plan.Devices.push_back(std::move(device));
  }
  return plan;
}
