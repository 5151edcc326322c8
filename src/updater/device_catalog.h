#pragma once
// The XML device catalog beside the program, and the device type the person selected.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pugi {
class xml_document;
}

struct DeviceRecord {
  std::string ClassName;
  std::string Name;
  std::string Id;
  std::uint16_t UsbPid = 0;
  std::uint16_t FirmwareVersion = 0;
  bool HasApplication = false;
  std::uint16_t ApplicationVersion = 0;
  std::string FirmwarePath;
};

class DeviceCatalog {
 public:
  DeviceCatalog();
  ~DeviceCatalog();
  DeviceCatalog(const DeviceCatalog&) = delete;
  DeviceCatalog& operator=(const DeviceCatalog&) = delete;

  // Loads the catalog file; returns false, after one message, when the file is missing
  // (message 61729 with the full path), unreadable or not well-formed ("FILE:LINE: what is
  // wrong").
  bool OpenCatalog();
  // One "Id<TAB>Name" line per Device element, in document order.
  void ListDevices(std::vector<std::string>& lines) const;
  // Fills the current record from the first Device whose Id equals `id`; true when complete.
  bool ReadDevice(const std::string& id);
  // The Id, Name, class name and USB product id of every Device element, in document order;
  // versions and files are ReadDevice's.
  std::vector<DeviceRecord> Entries() const;
  void CloseCatalog();

  bool IsOpen() const { return m_document != nullptr; }
  const DeviceRecord& Record() const { return m_record; }
  DeviceRecord& Record() { return m_record; }

  // The catalog file: the program's path with its extension replaced by "config", unless a
  // front end named another file. An installed program keeps no data beside itself, so when
  // no catalog lies beside it the one of the same name in the installed data folder is read.
  static std::string CatalogPath();
  // The catalog file called `name`: beside the program, else in the installed data folder
  // (share/tavrix-update, found from the program's folder) when one lies there. Without
  // either it is the file beside the program, which the message of a failed load then names.
  static std::string LocateCatalogFile(const std::string& name);
  // The installed data folder relative to the program's folder ("../share/tavrix-update").
  static const char* InstalledDataFolder();
  // The folder the catalog's File texts are relative to: the catalog's own, ending in "/".
  // It is the program's folder unless the catalog came from the installed data folder or a
  // front end named another file.
  static std::string DataFolder();
  // Names the catalog file (the terminal front end's --catalog); empty restores the rule.
  static void SetCatalogFile(const std::string& path);

 private:
  DeviceRecord m_record;
  std::unique_ptr<pugi::xml_document> m_document;
};

// A number read like a C unsigned literal with automatic base, kept to its low 16 bits.
std::uint16_t ParseCatalogNumber(const std::string& text);

// The path a Firmware File text names: `folder` (ending in "/") followed by the text, whose
// backslashes (catalogs written for Windows) separate folders too.
std::string ResolveFirmwarePath(const std::string& folder, std::string file);
