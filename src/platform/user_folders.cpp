#include "platform/user_folders.h"

#include <cstdlib>

namespace {

// $`variable`/tavrix-update, else ~/`fallback`/tavrix-update.
std::string XdgFolder(const char* variable, const char* fallback) {
  // A relative XDG path is to be ignored, as the rules say.
  if (const char* xdg = std::getenv(variable); xdg != nullptr && *xdg == '/') {
    return std::string(xdg) + "/tavrix-update";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return std::string(home) + "/" + fallback + "/tavrix-update";
  }
  return "/tmp/tavrix-update";
}

}  // namespace

std::string UserDataFolder() { return XdgFolder("XDG_DATA_HOME", ".local/share"); }

std::string UserStateFolder() { return XdgFolder("XDG_STATE_HOME", ".local/state"); }
