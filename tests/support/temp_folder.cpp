#include "support/temp_folder.h"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>

CTempFolder::CTempFolder() {
  static std::atomic<int> counter{0};
  m_path = std::filesystem::temp_directory_path() /
           ("tavrix-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(m_path);
  std::filesystem::create_directories(m_path);
}

CTempFolder::~CTempFolder() {
  std::error_code error;
  std::filesystem::remove_all(m_path, error);
}

std::string CTempFolder::Write(const std::string& name, const std::string& bytes) const {
  std::filesystem::path path = m_path / name;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
  return path.string();
}

std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
