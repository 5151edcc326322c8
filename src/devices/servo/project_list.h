#pragma once
// The project list of a servo drive project: "ProjectExportList.xml" in the project folder,
// read the way the drive tools write it. The file is taken as bytes and searched for fixed,
// case-sensitive key texts; a key counts only after the first byte of the file. The two
// characters after a key (the equals sign and the opening double quote) are skipped and the
// value runs to the next double quote:
//
//   Version Firmware="..."  MemoryModule="..."  SafetyModule="..."  NumberOfFiles="3"
//   File Name="DEVCONF.DAT"  File Name="..." (every one, in file order)
//
// The list is refused, with a text that says why, when a value is longer than the buffers the
// drive side keeps (254 characters) or has no closing quote, when it names more files than a
// download takes, when NumberOfFiles is missing (the file is no project list), is 0 or is no
// count of the names it lists. Nothing is ever copied past its bound.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CProjectList {
 public:
  static constexpr const char* kFileName = "ProjectExportList.xml";
  // A name that contains this text is the drive configuration; it travels first, as
  // kConfigurationDriveName, from the file of this name in the project folder.
  static constexpr const char* kConfigurationName = "DEVCONF.DAT";
  static constexpr const char* kConfigurationDriveName = "DevConf.dat";
  static constexpr std::size_t kMaxFiles = 30;
  static constexpr std::size_t kMaxValueLength = 254;
  // The largest list read: far above what 30 names and their values take, and a bound for a
  // file that never ends.
  static constexpr std::uint64_t kMaxFileBytes = 4 * 1024 * 1024;

  // Takes the list from `bytes`; false, with Refusal() saying why, when it is refused.
  bool Parse(std::string_view bytes);
  // Reads kFileName in `folder` and parses it. False when the file cannot be opened, is not a
  // regular file, is larger than kMaxFileBytes or cannot be read (Refusal() says so), or the
  // list is refused.
  bool Load(const std::string& folder);

  // Checks that every file the list names (and the configuration file, when one is named) is
  // a file in `folder`, and adds up the sizes of the listed files. False, with Refusal()
  // naming the first missing file, otherwise.
  bool CheckFiles(const std::string& folder);

  const std::string& FirmwareVersion() const { return m_firmwareVersion; }
  const std::string& MemoryModule() const { return m_memoryModule; }
  const std::string& SafetyModule() const { return m_safetyModule; }
  // The files to download: NumberOfFiles, never more than the names listed.
  int NumberOfFiles() const { return m_numberOfFiles; }
  const std::vector<std::string>& FileNames() const { return m_fileNames; }
  // The sum of the sizes of the listed files, once CheckFiles has passed.
  std::uint64_t RequiredBytes() const { return m_requiredBytes; }
  const std::string& Refusal() const { return m_refusal; }

  static bool IsConfiguration(const std::string& name) { return name.find(kConfigurationName) != std::string::npos; }
  // The file a listed name is read from on the PC: names written with backslashes (lists made
  // on Windows) name sub-folders too.
  static std::string LocalPath(const std::string& folder, const std::string& name);
  // Whether a listed name reaches out of the project folder (an absolute name, or a ".." part).
  static bool LeavesFolder(const std::string& name);

 private:
  bool Refuse(std::string text);
  // The value of the first occurrence of `key` at or after `from` that lies after the first
  // byte; `found` false when there is none. `next` is where the search can go on.
  bool ReadValue(std::string_view bytes, std::string_view key, std::size_t from, std::string& value, bool& found,
                 std::size_t& next);
  bool ReadSingleValue(std::string_view bytes, std::string_view key, std::string& value);

  std::string m_firmwareVersion;
  std::string m_memoryModule;
  std::string m_safetyModule;
  int m_numberOfFiles = 0;
  std::vector<std::string> m_fileNames;
  std::uint64_t m_requiredBytes = 0;
  std::string m_refusal;
};
