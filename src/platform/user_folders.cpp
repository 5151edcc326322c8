#include "platform/user_folders.h"

#include <cstdlib>

std::string UserDataFolder() {
  // A relative XDG path is to be ignored, as the rules say.
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
    return std::string(xdg) + "/tavrix-update";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return std::string(home) + "/.local/share/tavrix-update";
  }
  return "/tmp/tavrix-update";
}
