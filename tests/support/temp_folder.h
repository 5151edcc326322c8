#pragma once
// A folder of its own for one test, removed with everything in it afterwards.

#include <filesystem>
#include <string>

class CTempFolder {
 public:
  CTempFolder();
  ~CTempFolder();
  CTempFolder(const CTempFolder&) = delete;
  CTempFolder& operator=(const CTempFolder&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  std::string operator/(const std::string& name) const { return (m_path / name).string(); }
  // Writes the bytes as they are; returns the file's path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path m_path;
};

// The whole content of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path& path);
