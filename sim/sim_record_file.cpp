#include "sim/sim_record_file.h"

#include <fstream>
#include <system_error>

bool ReplaceFileContent(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::path temporary = path.string() + ".tmp";
  {
    std::ofstream file(temporary, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!(file << text) || !file.flush()) return false;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  return !error;
}
