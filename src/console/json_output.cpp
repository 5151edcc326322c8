#include "console/json_output.h"

#include <cstdio>

#include "console/console_session.h"
#include "updater/updater.h"

bool JsonMode() { return Console().json != nullptr; }

std::string JsonLine(const nlohmann::ordered_json& object) {
  return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

void EmitJson(const nlohmann::ordered_json& object) {
  std::FILE* out = Console().json;
  if (out == nullptr) return;
  std::fputs(JsonLine(object).c_str(), out);
  std::fflush(out);
}

nlohmann::ordered_json JsonVersion(std::uint16_t version) {
  if (version == 0) return nullptr;
  return FormatVersion(version);
}
