// The XML device catalog on arbitrary bytes, through the calls that build the start page's
// list and the selected device's record: a load is either refused with exactly one message
// or complete without any; the list lines, the entries and the records read by Id agree on
// every Id, name, class name and product id; the firmware path lies in the catalog's folder
// with every backslash turned into a folder separator.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "updater/device_catalog.h"

namespace {

void CheckRecords(DeviceCatalog& catalog, CCountingUserInterface& ui) {
  std::vector<std::string> lines;
  catalog.ListDevices(lines);
  const std::vector<DeviceRecord> entries = catalog.Entries();
  if (lines.size() != entries.size()) std::abort();
  std::map<std::string, const DeviceRecord*> firstById;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (lines[i] != entries[i].Id + "\t" + entries[i].Name) std::abort();
    firstById.emplace(entries[i].Id, &entries[i]);
  }
  const std::string folder = DeviceCatalog::DataFolder();
  for (const auto& [id, entry] : firstById) {
    const bool complete = catalog.ReadDevice(id);
    const DeviceRecord& record = catalog.Record();
    if (!complete && (id.empty() || record.Id != id)) {
      // Only a Device without an Id attribute (listed with an empty one) is not found by Id.
      if (!id.empty()) std::abort();
      continue;
    }
    // The record's head is filled from the first Device of that Id before anything can fail.
    if (record.Id != id || record.ClassName != entry->ClassName || record.UsbPid != entry->UsbPid) std::abort();
    if (!complete) continue;
    if (record.Name != entry->Name) std::abort();
    if (record.FirmwarePath.compare(0, folder.size(), folder) != 0) std::abort();
    if (record.FirmwarePath.find('\\') != std::string::npos) std::abort();
    if (!record.HasApplication && record.ApplicationVersion != 0) std::abort();
  }
  // An Id no Device carries finds nothing.
  if (firstById.count("\x01no such id") == 0 && catalog.ReadDevice("\x01no such id")) std::abort();
  if (ui.messages != 0) std::abort();  // reading a loaded catalog says nothing
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CCountingUserInterface ui;
  static const std::string path = ScratchFolder() + "/catalog.config";
  static const bool named = (DeviceCatalog::SetCatalogFile(path), true);
  (void)named;
  SetUserInterface(&ui);
  ui.messages = 0;
  WriteScratchFile(path, std::string_view(reinterpret_cast<const char*>(data), size));

  DeviceCatalog catalog;
  const bool opened = catalog.OpenCatalog();
  if (opened != catalog.IsOpen()) std::abort();
  if (!opened) {
    if (ui.messages != 1 || ui.lastMessage.empty()) std::abort();  // refused, and said so once
    std::vector<std::string> lines{"left over"};
    catalog.ListDevices(lines);
    if (!lines.empty() || !catalog.Entries().empty() || catalog.ReadDevice("ZQ3351-9F")) std::abort();
    return 0;
  }
  if (ui.messages != 0) std::abort();
  CheckRecords(catalog, ui);
  catalog.CloseCatalog();
  if (catalog.IsOpen() || !catalog.Entries().empty()) std::abort();
  return 0;
}
