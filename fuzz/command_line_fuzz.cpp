// Both front ends' command lines on arbitrary arguments. The input is the argument list, one
// argument per line, then (after a line "@@") the bytes of a response file; an argument "@R"
// names that file. Checked: the wizard records only its own switches, each taken from the
// expanded arguments in order with its value; response files split the same way whether read
// or decoded by hand, and quoting the pieces gives them back; the terminal front end's parse
// gives the same options and arguments back from its canonical spelling, and a run that
// touches no device (help, version, usage errors, list with a missing catalog) ends with the
// status its manual gives.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "console/console_line.h"
#include "console/console_session.h"
#include "fuzz_support.h"
#include "platform/ascii_text.h"
#include "platform/string_table.h"
#include "wizard/command_line.h"
#include "wizard/response_file.h"

namespace {

const std::string& ResponsePath() {
  static const std::string path = ScratchFolder() + "/arguments.rsp";
  return path;
}

const std::string& MissingCatalog() {
  static const std::string path = ScratchFolder() + "/no-such-folder/catalog.config";
  return path;
}

void CheckWizardLine(const std::vector<std::string>& args) {
  const CCommandLine line = CCommandLine::Parse(args);
  if (!line.RefusedResponseFiles().empty()) std::abort();  // the one file is small and regular
  const std::vector<std::string> expanded = ExpandResponseFiles(args);
  std::size_t next = 0;
  for (const CCommandLine::Switch& recorded : line.Switches()) {
    const std::optional<bool> takesValue = CCommandLine::LookUpSwitch(recorded.name);
    if (!takesValue) std::abort();
    if (!EqualsIgnoringAsciiCase(recorded.name, "preview") && !EqualsIgnoringAsciiCase(recorded.name, "debug") &&
        !EqualsIgnoringAsciiCase(recorded.name, "lang")) {
      std::abort();
    }
    // The switch stands later in the expanded arguments than the one before, "/" or "-" first,
    // followed by its value when it takes one.
    while (next < expanded.size() &&
           !(expanded[next].size() > 1 && (expanded[next][0] == '/' || expanded[next][0] == '-') &&
             expanded[next].substr(1) == recorded.name)) {
      ++next;
    }
    if (next == expanded.size()) std::abort();
    ++next;
    if (*takesValue) {
      if (next == expanded.size() || expanded[next] != recorded.value) std::abort();
      ++next;
    } else if (!recorded.value.empty()) {
      std::abort();
    }
  }
  (void)line.LanguageId();
  (void)line.DebugMode();
}

std::string Quoted(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) text += "\"" + arg + "\" ";
  return text;
}

void CheckResponseFile(std::string_view bytes) {
  const std::optional<std::vector<std::string>> read = CResponseFile::Read(ResponsePath());
  if (!read) std::abort();
  const std::vector<std::string> split = CResponseFile::Split(CResponseFile::Decode(bytes));
  if (*read != split) std::abort();
  for (const std::string& arg : split) {
    if (arg.find('"') != std::string::npos) std::abort();  // quotes are removed
  }
  if (CResponseFile::Split(Quoted(split)) != split) std::abort();
}

std::vector<std::string> CanonicalSpelling(const ParsedConsoleLine& parsed) {
  const ConsoleOptions& options = parsed.options;
  std::vector<std::string> args;
  if (options.debug) args.push_back("--debug");
  if (options.yes) args.push_back("--yes");
  if (options.json) args.push_back("--json");
  if (!options.catalog.empty()) args.push_back("--catalog=" + options.catalog);
  if (!options.trace.empty()) args.push_back("--trace=" + options.trace);
  if (options.lang) args.push_back("--lang=" + std::to_string(*options.lang));
  args.push_back("--retries=" + std::to_string(options.retries));
  if (options.onFailure) {
    const char* action = *options.onFailure == FailureAction::Retry      ? "retry"
                         : *options.onFailure == FailureAction::Simulate ? "simulate"
                                                                         : "exit";
    args.push_back(std::string("--on-failure=") + action);
  }
  args.push_back("--");
  args.insert(args.end(), parsed.positional.begin(), parsed.positional.end());
  return args;
}

void CheckConsoleLine(const std::vector<std::string>& args) {
  const ParsedConsoleLine parsed = ParseConsoleLine(args);
  if (!parsed.error.empty()) return;
  const ConsoleOptions& options = parsed.options;
  if (options.lang && !IsHeldLanguage(*options.lang)) std::abort();
  if (options.retries < 0 || options.retries > 1000000) std::abort();
  const ParsedConsoleLine again = ParseConsoleLine(CanonicalSpelling(parsed));
  const ConsoleOptions& other = again.options;
  if (!again.error.empty() || again.help || again.version || again.positional != parsed.positional ||
      other.debug != options.debug || other.yes != options.yes || other.json != options.json ||
      other.catalog != options.catalog || other.trace != options.trace || other.lang != options.lang ||
      other.retries != options.retries || other.onFailure != options.onFailure) {
    std::abort();
  }
}

// The whole terminal front end, but only for runs that cannot reach a device or a file of the
// person's: the catalog is forced to a missing one, and any command but list is left out.
void RunConsoleSafely(const std::vector<std::string>& args) {
  std::vector<std::string> line{"--catalog=" + MissingCatalog()};
  line.insert(line.end(), args.begin(), args.end());
  const ParsedConsoleLine parsed = ParseConsoleLine(line);
  int expected = kExitSetup;
  if (parsed.help || parsed.version) {
    expected = kExitOk;
  } else if (parsed.error.empty() && !parsed.positional.empty()) {
    const std::string& name = parsed.positional[0];
    bool known = false;
    for (const auto& command : ConsoleCommands()) known = known || name == command.name;
    if (known && (name != "list" || parsed.options.catalog != MissingCatalog() || !parsed.options.trace.empty())) {
      return;
    }
  }
  static std::FILE* sink = std::fopen("/dev/null", "w");
  static std::FILE* nothing = std::fopen("/dev/null", "r");
  if (sink == nullptr || nothing == nullptr) std::abort();
  ConsoleStreams streams;
  streams.in = nothing;
  streams.out = sink;
  streams.err = sink;
  if (RunConsole(line, streams) != expected) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CSilentUserInterface ui;
  SetUserInterface(&ui);
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view argumentText = input;
  std::string_view responseBytes;
  if (auto marker = input.find("\n@@\n"); marker != std::string_view::npos) {
    argumentText = input.substr(0, marker);
    responseBytes = input.substr(marker + 4);
  }
  WriteScratchFile(ResponsePath(), responseBytes);

  std::vector<std::string> args;
  if (!argumentText.empty()) {
    std::size_t begin = 0;
    for (;;) {
      const std::size_t end = argumentText.find('\n', begin);
      std::string arg(argumentText.substr(begin, end == std::string_view::npos ? end : end - begin));
      // "@R" is the input's response file; any other file an argument names is one that is
      // not there, so that no file outside the scratch folder is ever read.
      if (arg == "@R") {
        arg = "@" + ResponsePath();
      } else if (!arg.empty() && arg[0] == '@') {
        arg = "@" + ScratchFolder() + "/missing/" + std::to_string(arg.size());
      }
      args.push_back(arg);
      if (end == std::string_view::npos) break;
      begin = end + 1;
    }
  }
  if (args.size() > 64) return 0;  // longer lines find nothing new and slow the search down

  CheckWizardLine(args);
  CheckResponseFile(responseBytes);
  CheckConsoleLine(args);
  RunConsoleSafely(args);
  return 0;
}
