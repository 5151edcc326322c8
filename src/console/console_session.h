#pragma once
// One run of the terminal front end: where it reads and writes, whether those are terminals,
// and the global options.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// What answers the "Interface" dialog when a device cannot be opened or identified.
enum class FailureAction { Ask, Retry, Simulate, Exit };

struct ConsoleStreams {
  std::FILE* in = stdin;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool inIsTerminal = false;   // questions become prompts
  bool outIsTerminal = false;  // progress is one refreshing line
  // The process's standard streams, with their terminal flags.
  static ConsoleStreams Standard();
};

struct ConsoleOptions {
  std::string catalog;          // --catalog FILE; empty: tavrix-update.config beside the program
  std::optional<int> lang;      // --lang ID
  bool debug = false;           // --debug
  bool yes = false;             // --yes
  std::optional<FailureAction> onFailure;  // --on-failure ACTION
  int retries = 3;              // --retries N
  std::string trace;            // --trace FILE
  std::optional<std::string> address;  // update's --address HOST[:PORT] for a network unit
  bool dryRun = false;          // update's --dry-run: connect and report, program nothing
  bool noVerify = false;        // update's --no-verify: do not meet the device again after programming
  bool json = false;            // --json: JSON lines on standard output, people's text on standard error
};

class CConsoleUserInterface;

struct ConsoleSession {
  ConsoleStreams streams;
  ConsoleOptions options;
  CConsoleUserInterface* ui = nullptr;  // installed for the run
  std::FILE* json = nullptr;            // where JSON lines go; set with --json
};

// The options a worker run of this program (update --all, devices --probe) takes over from
// this one: the catalog and the language.
std::vector<std::string> ForwardedOptions(const ConsoleOptions& options);

// The session of the running command.
ConsoleSession& Console();
void SetConsole(ConsoleSession* session);

// The exit statuses.
enum ConsoleExit : int {
  kExitOk = 0,            // programmed, or up to date
  kExitFailed = 1,        // programming failed
  kExitSetup = 2,         // usage error, catalog missing, entry unusable, updater not created,
                          // programming not confirmed
  kExitNotConnected = 3,  // the device could not be opened or identified, or exit was chosen
};
