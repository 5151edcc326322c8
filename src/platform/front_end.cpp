#include "platform/front_end.h"

#include <mutex>

namespace {

std::mutex g_mutex;
std::string g_name;

}  // namespace

void SetFrontEndName(std::string name) {
  std::lock_guard lock(g_mutex);
  g_name = std::move(name);
}

std::string FrontEndName() {
  std::lock_guard lock(g_mutex);
  return g_name;
}
