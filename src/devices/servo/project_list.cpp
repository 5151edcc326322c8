#include "devices/servo/project_list.h"

#include <algorithm>
#include <climits>
#include <filesystem>

#include "platform/input_file.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "updater/device_catalog.h"

namespace {

// Rows in resources/strings/input_file.inc; %1 = the list's file name.
constexpr int IDS_PROJECT_LIST_NOT_A_LIST = 23720;
constexpr int IDS_PROJECT_LIST_NO_FILE = 23721;

constexpr std::string_view kFirmwareVersionKey = "Version Firmware";
constexpr std::string_view kMemoryModuleKey = "MemoryModule";
constexpr std::string_view kSafetyModuleKey = "SafetyModule";
constexpr std::string_view kNumberOfFilesKey = "NumberOfFiles";
constexpr std::string_view kFileNameKey = "File Name";
// The equals sign and the opening double quote between a key and its value.
constexpr std::size_t kSkippedAfterKey = 2;

// The decimal number at the start of `text` as the drive tools write it (leading blanks and a
// sign allowed, up to the first other character, 0 when there is none); saturated to int.
long long LeadingNumber(const std::string& text) {
  std::size_t i = text.find_first_not_of(" \t\r\n");
  if (i == std::string::npos) return 0;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<long long>(value * 10 + (text[i] - '0'), INT_MAX);
  }
  return negative ? -value : value;
}

}  // namespace

bool CProjectList::Refuse(std::string text) {
  m_refusal = std::move(text);
  return false;
}

bool CProjectList::ReadValue(std::string_view bytes, std::string_view key, std::size_t from, std::string& value,
                             bool& found, std::size_t& next) {
  found = false;
  std::size_t at = bytes.find(key, std::max<std::size_t>(from, 1));
  if (at == std::string_view::npos) return true;
  found = true;
  const std::size_t start = at + key.size() + kSkippedAfterKey;
  const std::size_t end = start <= bytes.size() ? bytes.find('"', start) : std::string_view::npos;
  if (end == std::string_view::npos) {
    return Refuse(FormatText("%s: the value of \"%.*s\" has no closing double quote.", kFileName,
                             static_cast<int>(key.size()), key.data()));
  }
  if (end - start > kMaxValueLength) {
    return Refuse(FormatText("%s: the value of \"%.*s\" is longer than %zu characters.", kFileName,
                             static_cast<int>(key.size()), key.data(), kMaxValueLength));
  }
  value.assign(bytes.substr(start, end - start));
  next = end + 1;
  return true;
}

bool CProjectList::ReadSingleValue(std::string_view bytes, std::string_view key, std::string& value) {
  bool found = false;
  std::size_t next = 0;
  value.clear();
  return ReadValue(bytes, key, 0, value, found, next);
}

bool CProjectList::Parse(std::string_view bytes) {
  *this = CProjectList();
  std::string numberOfFiles;
  bool numberOfFilesFound = false;
  std::size_t next = 0;
  if (!ReadSingleValue(bytes, kFirmwareVersionKey, m_firmwareVersion) ||
      !ReadSingleValue(bytes, kMemoryModuleKey, m_memoryModule) ||
      !ReadSingleValue(bytes, kSafetyModuleKey, m_safetyModule) ||
      !ReadValue(bytes, kNumberOfFilesKey, 0, numberOfFiles, numberOfFilesFound, next)) {
    return false;
  }
  for (std::size_t from = 0;;) {
    std::string name;
    bool found = false;
    if (!ReadValue(bytes, kFileNameKey, from, name, found, from)) return false;
    if (!found) break;
    if (m_fileNames.size() == kMaxFiles) {
      return Refuse(FormatText("%s names more than %zu files; a download takes at most %zu.", kFileName, kMaxFiles,
                               kMaxFiles));
    }
    m_fileNames.push_back(std::move(name));
  }
  // Empty, binary or any other text: without the count there is no list to go by.
  if (!numberOfFilesFound) return Refuse(FormatMessage(LoadResString(IDS_PROJECT_LIST_NOT_A_LIST), {kFileName}));
  const long long count = LeadingNumber(numberOfFiles);
  if (count < 0 || static_cast<unsigned long long>(count) > m_fileNames.size()) {
    return Refuse(FormatText("%s gives NumberOfFiles=\"%s\" but names %zu files.", kFileName, numberOfFiles.c_str(),
                             m_fileNames.size()));
  }
  // Nothing to download would end in "done" with the drive's application unchanged.
  if (count == 0) return Refuse(FormatMessage(LoadResString(IDS_PROJECT_LIST_NO_FILE), {kFileName}));
  m_numberOfFiles = static_cast<int>(count);
  return true;
}

bool CProjectList::Load(const std::string& folder) {
  *this = CProjectList();
  CInputFile file;
  std::string bytes;
  if (!file.Open(folder + "/" + kFileName)) {
    // A pipe or a device is told what it is; a list that is not there keeps its short text.
    if (file.Failure() == CInputFile::EFailure::NotAFile) return Refuse(file.Message());
    return Refuse(FormatText("%s could not be opened.", kFileName));
  }
  if (!file.ReadAll(bytes, kMaxFileBytes)) return Refuse(file.Message());
  return Parse(bytes);
}

bool CProjectList::LeavesFolder(const std::string& name) {
  const std::filesystem::path path(ResolveFirmwarePath("", name));
  if (path.is_absolute()) return true;
  return std::any_of(path.begin(), path.end(), [](const std::filesystem::path& part) { return part == ".."; });
}

std::string CProjectList::LocalPath(const std::string& folder, const std::string& name) {
  return ResolveFirmwarePath(folder + "/", name);
}

bool CProjectList::CheckFiles(const std::string& folder) {
  m_requiredBytes = 0;
  auto size = [&](const std::string& name, std::uint64_t& bytes) {
    // A name is a file of the project: one that climbs out of the folder would send any file
    // of the PC into the drive.
    if (LeavesFolder(name)) {
      return Refuse(FormatText("The project file name '%s' in %s leaves the project folder.", name.c_str(), kFileName));
    }
    const std::string path = LocalPath(folder, name);
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error)) {
      bytes = std::filesystem::file_size(path, error);
      if (!error) return true;
    }
    return Refuse(FormatText("The project file '%s' named in %s is missing.", path.c_str(), kFileName));
  };
  bool configurationChecked = false;
  for (const std::string& name : m_fileNames) {
    std::uint64_t bytes = 0;
    if (!size(name, bytes)) return false;
    m_requiredBytes += bytes;
    // The configuration is sent from its own file, whatever the listed name holds besides.
    if (IsConfiguration(name) && !configurationChecked) {
      configurationChecked = true;
      if (!size(kConfigurationName, bytes)) return false;
    }
  }
  return true;
}
