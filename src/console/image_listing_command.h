#pragma once
// tavrix-update-cli inspect FILE --as KIND [--regions TABLE]: shows, without a device, what a
// download would send, one line per unit in sending order, then the summary lines and the
// SHA-256 of exactly the bytes that would be sent.
//
// Output lines are fixed English, for people and scripts alike. A file that cannot be opened
// or does not load completely prints "FILE:LINE: reason" (HEX) or "FILE: offset N: reason"
// (segment and binary files) on the error stream and exits 2; the reason is the same
// resource string the wizard shows, in the user-interface language, so scripts match on the
// "FILE:LINE:" prefix and the exit status only.

#include <cstdio>
#include <string>

#include "console/commands.h"

// "inspect FILE --as KIND [--regions TABLE]" with every kind and region table registered.
std::string InspectUsage();

// The command with its output streams given (the tests pass their own).
// With `json`, one "image" object instead of the lines.
int RunInspect(const CommandArgs& args, std::FILE* out, std::FILE* err, bool json = false);

// The command as the command table runs it: standard output and standard error.
int RunInspectCommand(const CommandArgs& args);
