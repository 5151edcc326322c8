#include "history/update_record.h"

#include <unistd.h>

#include <ctime>
#include <regex>

#include "platform/text_format.h"

namespace {

constexpr std::pair<UpdateResult, const char*> kResultNames[] = {
    {UpdateResult::Programmed, "programmed"},
    {UpdateResult::UpToDate, "up to date"},
    {UpdateResult::Failed, "failed"},
    {UpdateResult::NotConnected, "not connected"},
};

}  // namespace

const char* ResultName(UpdateResult result) {
  for (const auto& [value, name] : kResultNames) {
    if (value == result) return name;
  }
  return "failed";
}

std::optional<UpdateResult> ResultFromName(const std::string& name) {
  for (const auto& [value, text] : kResultNames) {
    if (name == text) return value;
  }
  return std::nullopt;
}

std::string IsoUtcTime(std::chrono::system_clock::time_point time) {
  const auto since = time.time_since_epoch();
  const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(since).count();
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000;
  std::tm parts{};
  ::gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  return FormatText("%s.%03dZ", text, static_cast<int>(millis));
}

bool IsUtcDateOrTime(const std::string& text) {
  static const std::regex pattern(R"(\d{4}-\d{2}-\d{2}(T\d{2}:\d{2}(:\d{2}(\.\d{1,3})?)?Z?)?)");
  return std::regex_match(text, pattern);
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}
