#include "updater/device_catalog.h"

#include <pugixml.hpp>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "platform/module_path.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"

namespace {

std::mutex g_catalogFileMutex;
std::string g_catalogFile;

// The text of an element: its first child's text, as the element's text value.
std::string ElementText(const pugi::xml_node& node) { return node.text().get(); }

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
  pugi::xml_parse_result result = m_document->load_file(path.c_str());
  if (!result) {
    m_document.reset();
    UserInterface().MessageBox(FormatMessage(LoadResString(61729), {path}), MB_OK | MB_ICONERROR);
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
