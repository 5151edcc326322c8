// The servo project list on arbitrary bytes: a list that is taken keeps every value within
// its bound, at most thirty names, and a number of files to send that the names cover; a
// list that is refused says why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "devices/servo/project_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CProjectList list;
  if (!list.Parse(std::string_view(reinterpret_cast<const char*>(data), size))) {
    if (list.Refusal().empty()) std::abort();
    return 0;
  }
  const std::size_t bound = CProjectList::kMaxValueLength;
  if (list.FirmwareVersion().size() > bound || list.MemoryModule().size() > bound ||
      list.SafetyModule().size() > bound) {
    std::abort();
  }
  if (list.FileNames().size() > CProjectList::kMaxFiles) std::abort();
  for (const auto& name : list.FileNames()) {
    if (name.size() > bound || name.find('"') != std::string::npos) std::abort();
  }
  if (list.NumberOfFiles() < 0 || static_cast<std::size_t>(list.NumberOfFiles()) > list.FileNames().size()) {
    std::abort();
  }
  return 0;
}
