#include "sim/sim_record_file.h"

#include <fstream>
#include <system_error>

bool RewriteSimRecordFile(const std::filesystem::path& path, std::span<const std::string> texts) {
  std::filesystem::path temporary = path.string() + ".tmp";
  bool written = false;
  {
    std::ofstream file(temporary, std::ios::out | std::ios::trunc | std::ios::binary);
    for (const std::string& text : texts) file << text;
    written = static_cast<bool>(file.flush());
  }
  std::error_code error;
  if (written) std::filesystem::rename(temporary, path, error);
  return written && !error;
}

void AppendSimRecordHex(std::string& text, std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::size_t at = text.size();
  text.resize(at + 2 * bytes.size());
  for (std::uint8_t byte : bytes) {
    text[at++] = kDigits[byte >> 4];
    text[at++] = kDigits[byte & 0x0F];
  }
}
