#include "platform/module_path.h"

#include <filesystem>
#include <mutex>
#include <system_error>

namespace {
std::mutex g_mutex;
std::string g_override;
}  // namespace

std::string ModuleFileName() {
  {
    std::lock_guard lock(g_mutex);
    if (!g_override.empty()) return g_override;
  }
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

void SetModuleFileName(const std::string& path) {
  std::lock_guard lock(g_mutex);
  g_override = path;
}

std::string ModuleFolder() {
  std::string file = ModuleFileName();
  auto slash = file.find_last_of('/');
  return slash == std::string::npos ? std::string("./") : file.substr(0, slash + 1);
}
