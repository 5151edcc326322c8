#include "console/console_session.h"

#include <unistd.h>

#include <cassert>

namespace {
ConsoleSession* g_session = nullptr;
}  // namespace

ConsoleStreams ConsoleStreams::Standard() {
  ConsoleStreams streams;
  streams.inIsTerminal = ::isatty(STDIN_FILENO) != 0;
  streams.outIsTerminal = ::isatty(STDOUT_FILENO) != 0;
  return streams;
}

std::vector<std::string> ForwardedOptions(const ConsoleOptions& options) {
  std::vector<std::string> args;
  if (!options.catalog.empty()) args.insert(args.end(), {"--catalog", options.catalog});
  if (options.lang) args.insert(args.end(), {"--lang", std::to_string(*options.lang)});
  return args;
}

ConsoleSession& Console() {
  assert(g_session != nullptr && "commands run inside RunConsole");
  return *g_session;
}

void SetConsole(ConsoleSession* session) { g_session = session; }
