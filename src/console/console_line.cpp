#include "console/console_line.h"

#include <cstdlib>
#include <optional>

#include "platform/string_table.h"

namespace {

std::optional<int> ParseNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || value < 0 || value > 1000000) return std::nullopt;
  return static_cast<int>(value);
}

std::optional<FailureAction> ParseFailureAction(const std::string& text) {
  if (text == "retry") return FailureAction::Retry;
  if (text == "simulate") return FailureAction::Simulate;
  if (text == "exit") return FailureAction::Exit;
  return std::nullopt;
}

}  // namespace

ParsedConsoleLine ParseConsoleLine(const CommandArgs& args) {
  ParsedConsoleLine parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg == "--") {
      parsed.positional.insert(parsed.positional.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    }
    if (arg == "-h" || arg == "--help") {
      parsed.help = true;
      continue;
    }
    if (arg == "--version") {
      parsed.version = true;
      continue;
    }
    if (arg.rfind("--", 0) != 0) {
      parsed.positional.push_back(arg);
      continue;
    }
    std::optional<std::string> inlineValue;
    if (auto equals = arg.find('='); equals != std::string::npos) {
      inlineValue = arg.substr(equals + 1);
      arg.resize(equals);
    }
    auto value = [&]() -> std::optional<std::string> {
      if (inlineValue) return inlineValue;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };
    if (arg == "--debug" || arg == "--yes" || arg == "--json") {
      (arg == "--debug" ? parsed.options.debug : arg == "--yes" ? parsed.options.yes : parsed.options.json) = true;
      continue;
    }
    if (arg != "--catalog" && arg != "--lang" && arg != "--on-failure" && arg != "--retries" && arg != "--trace") {
      if (!parsed.positional.empty()) {
        parsed.positional.push_back(args[i]);
        continue;
      }
      parsed.error = "unknown option '" + args[i] + "'";
      return parsed;
    }
    std::optional<std::string> text = value();
    if (!text) {
      parsed.error = arg + " needs a value";
      return parsed;
    }
    if (arg == "--catalog") {
      parsed.options.catalog = *text;
    } else if (arg == "--trace") {
      parsed.options.trace = *text;
    } else if (arg == "--lang") {
      std::optional<int> lang = ParseNumber(*text);
      if (!lang || !IsHeldLanguage(*lang)) {
        parsed.error = "--lang takes 1031, 1033, 1036, 1043, 1049 or 3082";
        return parsed;
      }
      parsed.options.lang = lang;
    } else if (arg == "--retries") {
      std::optional<int> retries = ParseNumber(*text);
      if (!retries) {
        parsed.error = "--retries takes a number";
        return parsed;
      }
      parsed.options.retries = *retries;
    } else {
      parsed.options.onFailure = ParseFailureAction(*text);
      if (!parsed.options.onFailure) {
        parsed.error = "--on-failure takes retry, simulate or exit";
        return parsed;
      }
    }
  }
  return parsed;
}
