#pragma once
// The terminal front end's command line read into its options, its positional arguments and
// the requests for help or the version; nothing runs and nothing outside changes, so any
// argument list may be tried against it.

#include <string>

#include "console/commands.h"
#include "console/console_session.h"

struct ParsedConsoleLine {
  ConsoleOptions options;
  CommandArgs positional;  // the command and its arguments
  bool help = false;
  bool version = false;
  std::string error;  // a usage error; the rest is then incomplete
};

// Options may stand before or after the command; "--" ends them. After the command, an
// option the front end does not know belongs to the command (inspect's --as).
ParsedConsoleLine ParseConsoleLine(const CommandArgs& args);
