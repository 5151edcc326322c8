#include "wizard/command_line.h"

#include <algorithm>
#include <cstdlib>

#include "platform/ascii_text.h"
#include "wizard/response_file.h"

namespace {

struct SwitchEntry {
  const char* name;
  bool takesValue;
};

// The framework's switch table.
constexpr SwitchEntry kSwitchTable[] = {
    {"pt", false},         {"p", false},                 {"Register", false},
    {"Regserver", false},  {"RegisterPerUser", false},   {"RegserverPerUser", false},
    {"Unregister", false}, {"Unregserver", false},       {"UnregisterPerUser", false},
    {"UnregserverPerUser", false}, {"dde", false},       {"Embedding", false},
    {"Automation", false}, {"nologo", false},            {"preview", true},
    {"debug", false},      {"lang", true},
};

// The switches this program records (with their value).
constexpr const char* kRecorded[] = {"preview", "debug", "lang"};

bool IsRecorded(const std::string& name) {
  return std::any_of(std::begin(kRecorded), std::end(kRecorded),
                     [&name](const char* recorded) { return EqualsIgnoringAsciiCase(name, recorded); });
}

}  // namespace

std::optional<bool> CCommandLine::LookUpSwitch(const std::string& name) {
  for (const SwitchEntry& entry : kSwitchTable) {
    if (EqualsIgnoringAsciiCase(name, entry.name)) return entry.takesValue;
  }
  return std::nullopt;
}

CCommandLine CCommandLine::Parse(const std::vector<std::string>& args) {
  CCommandLine line;
  std::vector<std::string> expanded = ExpandResponseFiles(args, &line.m_refusedResponseFiles);
  for (std::size_t i = 0; i < expanded.size(); ++i) {
    const std::string& arg = expanded[i];
    if (arg.empty() || (arg[0] != '/' && arg[0] != '-')) continue;  // plain parameters: ignored
    std::string name = arg.substr(1);
    std::optional<bool> takesValue = LookUpSwitch(name);
    if (!takesValue) break;  // an unknown switch ends the parsing
    std::string value;
    if (*takesValue) {
      if (i + 1 >= expanded.size()) break;  // so does a value-taking switch without a value
      value = expanded[++i];
    }
    if (IsRecorded(name)) line.m_switches.push_back({name, value});
  }
  return line;
}

bool CCommandLine::Has(const std::string& exactName) const { return Value(exactName).has_value(); }

std::optional<std::string> CCommandLine::Value(const std::string& exactName) const {
  for (const Switch& recorded : m_switches) {
    if (recorded.name == exactName) return recorded.value;
  }
  return std::nullopt;
}

std::optional<int> CCommandLine::LanguageId() const {
  std::optional<std::string> value = Value("lang");
  if (!value) return std::nullopt;
  return static_cast<int>(std::strtol(value->c_str(), nullptr, 10));
}
