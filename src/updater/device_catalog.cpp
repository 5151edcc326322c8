#include "updater/device_catalog.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "platform/input_file.h"
#include "platform/module_path.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"

namespace {

std::mutex g_catalogFileMutex;
std::string g_catalogFile;

// Why a catalog that is there could not be read (rows in resources/strings/catalog.inc).
enum CatalogStringId : int {
  IDS_CATALOG_BAD_START_TAG = 23200,
  IDS_CATALOG_BAD_ATTRIBUTE = 23201,
  IDS_CATALOG_BAD_END_TAG = 23202,
  IDS_CATALOG_TAG_MISMATCH = 23203,
  IDS_CATALOG_NO_ROOT = 23204,
  IDS_CATALOG_BAD_MARKUP = 23205,
  IDS_CATALOG_UNREADABLE = 23206,
};

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The text of an element as a DOM's text property gives it: every text and CDATA piece below
// it joined in document order, white space around the whole trimmed. A hand-written catalog
// may put <File> on its own indented line or break a name with a comment; the first text
// piece alone would keep the line breaks, or stop at the comment.
std::string ElementText(const pugi::xml_node& node) {
  struct CTextCollector : pugi::xml_tree_walker {
    std::string text;
    bool for_each(pugi::xml_node& piece) override {
      if (piece.type() == pugi::node_pcdata || piece.type() == pugi::node_cdata) text += piece.value();
      return true;
    }
  } collector;
  pugi::xml_node walked = node;  // a handle; walking it does not change the document
  walked.traverse(collector);
  std::string& text = collector.text;
  auto first = std::find_if_not(text.begin(), text.end(), IsXmlSpace);
  auto last = std::find_if_not(text.rbegin(), text.rend(), IsXmlSpace).base();
  return first < last ? std::string(first, last) : std::string();
}

int ParseErrorStringId(pugi::xml_parse_status status) {
  switch (status) {
    case pugi::status_bad_start_element: return IDS_CATALOG_BAD_START_TAG;
    case pugi::status_bad_attribute: return IDS_CATALOG_BAD_ATTRIBUTE;
    case pugi::status_bad_end_element: return IDS_CATALOG_BAD_END_TAG;
    case pugi::status_end_element_mismatch: return IDS_CATALOG_TAG_MISMATCH;
    case pugi::status_no_document_element: return IDS_CATALOG_NO_ROOT;
    case pugi::status_unrecognized_tag:
    case pugi::status_bad_pi:
    case pugi::status_bad_comment:
    case pugi::status_bad_cdata:
    case pugi::status_bad_doctype:
    case pugi::status_bad_pcdata: return IDS_CATALOG_BAD_MARKUP;
    default: return 0;  // not a fault of the text: the file could not be read
  }
}

// The largest catalog read: far above any real list of devices, and a bound for a file that
// never ends.
constexpr std::uint64_t kMaxCatalogBytes = 16 * 1024 * 1024;

// The 1-based line of byte `offset` in the text.
int LineAtOffset(const std::string& text, std::ptrdiff_t offset) {
  const auto end = text.begin() + std::clamp<std::ptrdiff_t>(offset, 0, static_cast<std::ptrdiff_t>(text.size()));
  return 1 + static_cast<int>(std::count(text.begin(), end, '\n'));
}

// What the person is told about a catalog that was read but is not well-formed XML: "FILE:LINE:
// what is wrong", as an image that does not load is reported.
std::string CatalogParseMessage(const std::string& path, const std::string& text, const pugi::xml_parse_result& result) {
  int reason = ParseErrorStringId(result.status);
  if (reason == 0) return path + ": " + LoadResString(IDS_CATALOG_UNREADABLE);
  return FormatText("%s:%d: %s", path.c_str(), LineAtOffset(text, result.offset), LoadResString(reason).c_str());
}

}  // namespace

std::uint16_t ParseCatalogNumber(const std::string& text) {
  // strtoul with base 0 reads exactly the C literal rules: blanks skipped, 0x hex, 0 octal.
  // A leading sign is not part of an unsigned literal, so it stops the reading like any other
  // character that does not fit.
  std::size_t start = 0;
  while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
  if (start == text.size() || text[start] == '-' || text[start] == '+') return 0;
  errno = 0;
  unsigned long long value = std::strtoull(text.c_str() + start, nullptr, 0);
  return static_cast<std::uint16_t>(value & 0xFFFF);
}

std::string ResolveFirmwarePath(const std::string& folder, std::string file) {
  for (char& c : file) {
    if (c == '\\') c = '/';
  }
  return folder + file;
}

DeviceCatalog::DeviceCatalog() = default;
DeviceCatalog::~DeviceCatalog() = default;

void DeviceCatalog::SetCatalogFile(const std::string& path) {
  std::lock_guard lock(g_catalogFileMutex);
  g_catalogFile = path;
}

// The build derives it from the install layout (src/CMakeLists.txt).
const char* DeviceCatalog::InstalledDataFolder() { return TAVRIX_INSTALLED_DATA_DIR; }

std::string DeviceCatalog::LocateCatalogFile(const std::string& name) {
  const std::string beside = ModuleFolder() + name;
  std::error_code error;
  if (std::filesystem::exists(beside, error)) return beside;
  const std::string installed = ModuleFolder() + InstalledDataFolder() + "/" + name;
  if (std::filesystem::exists(installed, error)) return installed;
  return beside;
}

std::string DeviceCatalog::CatalogPath() {
  {
    std::lock_guard lock(g_catalogFileMutex);
    if (!g_catalogFile.empty()) return g_catalogFile;
  }
  std::string name = ModuleFileName();
  name.erase(0, name.find_last_of('/') + 1);
  if (auto dot = name.find_last_of('.'); dot != std::string::npos) name.resize(dot);
  return LocateCatalogFile(name + ".config");
}

std::string DeviceCatalog::DataFolder() {
  std::string path = CatalogPath();
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

bool DeviceCatalog::OpenCatalog() {
  m_document = std::make_unique<pugi::xml_document>();
  std::string path = CatalogPath();
  // Read through the opener, so that a pipe or a device named as the catalog is refused
  // instead of waited on; a missing file is told by message 61729.
  CInputFile file;
  std::string text;
  if (!file.Open(path) || !file.ReadAll(text, kMaxCatalogBytes)) {
    m_document.reset();
    UserInterface().MessageBox(file.Message(), MB_OK | MB_ICONERROR);
    return false;
  }
  pugi::xml_parse_result result = m_document->load_buffer(text.data(), text.size());
  if (!result) {
    m_document.reset();
    UserInterface().MessageBox(CatalogParseMessage(path, text, result), MB_OK | MB_ICONERROR);
    return false;
  }
  return true;
}

void DeviceCatalog::ListDevices(std::vector<std::string>& lines) const {
  lines.clear();
  if (!m_document) return;
  for (const pugi::xpath_node& item : m_document->select_nodes("/Config/Devices/Device")) {
    pugi::xml_node device = item.node();
    lines.push_back(std::string(device.attribute("Id").value()) + "\t" +
                    ElementText(device.child("Name")));
  }
}

std::vector<DeviceRecord> DeviceCatalog::Entries() const {
  std::vector<DeviceRecord> entries;
  if (!m_document) return entries;
  for (const pugi::xpath_node& item : m_document->select_nodes("/Config/Devices/Device")) {
    pugi::xml_node device = item.node();
    DeviceRecord entry;
    entry.Id = device.attribute("Id").value();
    entry.Name = ElementText(device.child("Name"));
    entry.ClassName = device.attribute("RTC").value();
    entry.UsbPid = ParseCatalogNumber(device.attribute("USBPID").value());
    entries.push_back(std::move(entry));
  }
  return entries;
}

bool DeviceCatalog::ReadDevice(const std::string& id) {
  if (!m_document) return false;
  // The Id goes into the query as a variable, so that any text (an apostrophe too) is
  // compared as it is and never changes the expression.
  pugi::xpath_variable_set variables;
  variables.set("id", id.c_str());
  pugi::xpath_query query("/Config/Devices/Device[@Id = $id]", &variables);
  pugi::xml_node device = m_document->select_node(query).node();
  if (!device) return false;

  m_record.Id = id;
  m_record.ClassName = device.attribute("RTC").value();
  m_record.UsbPid = ParseCatalogNumber(device.attribute("USBPID").value());

  pugi::xml_node name = device.child("Name");
  if (!name) return false;
  m_record.Name = ElementText(name);

  pugi::xml_node firmware = device.child("Firmware");
  if (!firmware) return false;
  pugi::xml_node version = firmware.child("Version");
  if (!version) return false;
  m_record.FirmwareVersion = ParseCatalogNumber(ElementText(version));
  pugi::xml_node file = firmware.child("File");
  if (!file) return false;
  m_record.FirmwarePath = ResolveFirmwarePath(DataFolder(), ElementText(file));

  m_record.HasApplication = false;
  m_record.ApplicationVersion = 0;
  pugi::xml_node application = device.child("Application");
  if (!application) return true;
  pugi::xml_node appVersion = application.child("Version");
  if (!appVersion) return false;
  m_record.ApplicationVersion = ParseCatalogNumber(ElementText(appVersion));
  m_record.HasApplication = true;
  return true;
}

void DeviceCatalog::CloseCatalog() { m_document.reset(); }
