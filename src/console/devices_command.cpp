#include "console/devices_command.h"

#include <cstdlib>
#include <filesystem>

#include "console/console_session.h"
#include "console/json_output.h"
#include "console/worker_process.h"
#include "platform/text_format.h"
#include "platform/usb_bus.h"
#include "updater/attached_devices.h"
#include "updater/device_catalog.h"
#include "wizard/wizard_state.h"

namespace {

struct ListedDevice {
  AttachedDevice device;
  std::vector<std::string> catalogIds;  // every entry whose updater opens the device
  // What --probe found: the entry that identified the device, and its versions.
  std::string probedId;
  nlohmann::ordered_json firmware = nullptr;
  nlohmann::ordered_json application = nullptr;
  std::size_t tried = 0;
};

// The catalog's entries, when there is a catalog: without one the devices are listed alone.
std::vector<DeviceRecord> CatalogEntries() {
  std::error_code error;
  if (!std::filesystem::exists(DeviceCatalog::CatalogPath(), error)) return {};
  DeviceCatalog& catalog = TheWizardState().Catalog;
  if (!catalog.OpenCatalog()) return {};
  std::vector<DeviceRecord> entries = catalog.Entries();
  catalog.CloseCatalog();
  return entries;
}

std::string Joined(const std::vector<std::string>& texts) {
  std::string joined;
  for (const auto& text : texts) joined += (joined.empty() ? "" : ",") + text;
  return joined.empty() ? "-" : joined;
}

// A worker that connects to one device as `id` and programs nothing.
std::vector<std::string> ProbeArgs(const std::string& id, const std::string& deviceId) {
  std::vector<std::string> args = ForwardedOptions(Console().options);
  args.insert(args.end(), {"--json", "--on-failure", "exit"});
  args.insert(args.end(), {"update", id, "--device", deviceId, "--dry-run"});
  return args;
}

// Connects to every device at the same time, trying its candidate entries one after the other
// until one identifies it.
void Probe(std::vector<ListedDevice>& listed) {
  std::vector<std::size_t> probed;
  std::vector<std::vector<std::string>> args;
  for (std::size_t i = 0; i < listed.size(); ++i) {
    if (listed[i].catalogIds.empty()) continue;
    probed.push_back(i);
    args.push_back(ProbeArgs(listed[i].catalogIds[0], listed[i].device.id));
  }
  auto onOut = [&](std::size_t worker, const std::string& line) {
    ListedDevice& entry = listed[probed[worker]];
    nlohmann::ordered_json object = nlohmann::ordered_json::parse(line, nullptr, false);
    if (object.is_discarded() || !object.is_object() || object["type"] != "connected") return;
    entry.probedId = entry.catalogIds[entry.tried];
    entry.firmware = object["firmware"];
    entry.application = object["application"];
  };
  auto onEnd = [&](std::size_t worker, int) -> std::optional<std::vector<std::string>> {
    ListedDevice& entry = listed[probed[worker]];
    if (!entry.probedId.empty() || ++entry.tried >= entry.catalogIds.size()) return std::nullopt;
    return ProbeArgs(entry.catalogIds[entry.tried], entry.device.id);
  };
  RunWorkers(std::move(args), {onOut, [](std::size_t, const std::string&) {}, onEnd, {}});
}

std::string Text(const nlohmann::ordered_json& value) { return value.is_string() ? value.get<std::string>() : "-"; }

void Print(const ListedDevice& entry, bool probe) {
  const AttachedDevice& device = entry.device;
  if (JsonMode()) {
    nlohmann::ordered_json object{{"type", "device"},
                          {"id", device.id},
                          {"path", device.path},
                          {"name", device.friendlyName},
                          {"product_id", FormatText("%04x", device.productId)},
                          {"catalog_ids", entry.catalogIds}};
    if (probe) {
      object["probe"] = {{"catalog_id", entry.probedId.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(entry.probedId)},
                         {"firmware", entry.firmware},
                         {"application", entry.application}};
    }
    EmitJson(object);
    return;
  }
  std::string line = device.id + "\t" + Joined(entry.catalogIds) + "\t" + device.friendlyName + "\t" + device.path;
  if (probe) {
    std::string found = entry.probedId.empty() ? "not identified"
                                               : entry.probedId + " firmware " + Text(entry.firmware);
    if (entry.application.is_string()) found += " application " + entry.application.get<std::string>();
    line += "\t" + found;
  }
  std::fprintf(Console().streams.out, "%s\n", line.c_str());
}

}  // namespace

int RunDevicesCommand(const CommandArgs& args) {
  ConsoleSession& session = Console();
  bool probe = false;
  for (const auto& arg : args) {
    if (arg != "--probe") {
      std::fprintf(session.streams.err, "tavrix-update-cli: usage: devices [--probe]\n");
      return kExitSetup;
    }
    probe = true;
  }
  // An emulated bus that is not there is a mistake in the setup, not an empty bus.
  if (const char* bus = std::getenv("TAVRIX_USB_BUS"); bus != nullptr && *bus != '\0') {
    std::error_code error;
    if (!std::filesystem::is_directory(bus, error)) {
      std::fprintf(session.streams.err, "tavrix-update-cli: TAVRIX_USB_BUS names '%s', which is no folder\n", bus);
      return kExitSetup;
    }
  }
  std::vector<DeviceRecord> entries = CatalogEntries();
  std::vector<ListedDevice> listed;
  for (auto& device : AttachedDevices(UsbBus())) {
    ListedDevice entry{std::move(device)};
    for (const auto& record : entries) {
      if (EntryMatches(record.ClassName, record.UsbPid, entry.device)) entry.catalogIds.push_back(record.Id);
    }
    listed.push_back(std::move(entry));
  }
  if (listed.empty()) std::fprintf(session.streams.err, "No device found.\n");
  if (probe) Probe(listed);
  for (const auto& entry : listed) Print(entry, probe);
  std::FILE* out = session.json != nullptr ? session.json : session.streams.out;
  return std::fflush(out) == 0 ? 0 : 1;
}
