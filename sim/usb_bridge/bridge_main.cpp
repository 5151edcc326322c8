// tavrix-usb-bridge BUSDIR -- COMMAND [ARGS...]
// Runs COMMAND with the devices of the emulated USB bus in BUSDIR presented as kernel USB
// devices (see usb_bridge.h), and ends with COMMAND's exit status. COMMAND runs under the
// umockdev preload library and without TAVRIX_USB_BUS, so it takes its real USB stack.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/usb_bridge/usb_bridge.h"

extern char** environ;

namespace {

constexpr char kPreloadLibrary[] = "libumockdev-preload.so.0";
volatile pid_t g_child = 0;

void Forward(int signal) {
  if (g_child > 0) ::kill(g_child, signal);
}

int Usage() {
  std::fprintf(stderr,
               "usage: tavrix-usb-bridge [--fixed-authorized] BUSDIR -- COMMAND [ARGS...]\n"
               "  runs COMMAND with the devices of the emulated USB bus in BUSDIR as kernel USB\n"
               "  devices; --fixed-authorized: their `authorized` attribute cannot be written\n");
  return 2;
}

// A sanitizer's options (NAME=a:b:...) without log_path: a sanitized program under the preload
// library (the bridge itself, COMMAND) crashes when its sanitizer opens a log file. Its reports
// go to standard error instead, which the caller reads.
std::string WithoutLogPath(const std::string& variable) {
  const std::string::size_type equals = variable.find('=');
  std::string kept;
  std::string::size_type start = equals + 1;
  while (start <= variable.size()) {
    std::string::size_type end = variable.find(':', start);
    if (end == std::string::npos) end = variable.size();
    std::string option = variable.substr(start, end - start);
    if (!option.empty() && option.rfind("log_path=", 0) != 0) kept += (kept.empty() ? "" : ":") + option;
    start = end + 1;
  }
  return variable.substr(0, equals + 1) + kept;
}

bool IsSanitizerOptions(const std::string& variable) {
  const std::string::size_type equals = variable.find('=');
  return equals != std::string::npos && variable.substr(0, equals).ends_with("SAN_OPTIONS");
}

// Our environment with the preload library in front; for COMMAND without the emulated bus.
std::vector<std::string> ChildEnvironment(bool keepBus) {
  const std::string library = kPreloadLibrary;
  std::string preload = "LD_PRELOAD=" + library;
  // A program built with AddressSanitizer refuses to start when a library is preloaded ahead
  // of the sanitizer's runtime. The preload library only passes calls on, so the order does
  // not matter here.
  std::string sanitizer = "ASAN_OPTIONS=verify_asan_link_order=0";
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string variable = *entry;
    if (!keepBus && variable.rfind("TAVRIX_USB_BUS=", 0) == 0) continue;
    if (variable.rfind("LD_PRELOAD=", 0) == 0) {
      bool present = variable.find(library) != std::string::npos;
      preload = present ? variable : preload + ":" + variable.substr(11);
      continue;
    }
    if (IsSanitizerOptions(variable)) variable = WithoutLogPath(variable);
    if (variable.rfind("ASAN_OPTIONS=", 0) == 0) {
      if (variable.find("verify_asan_link_order") != std::string::npos) sanitizer = variable;
      else if (variable != "ASAN_OPTIONS=") sanitizer = variable + ":verify_asan_link_order=0";
      continue;
    }
    variables.push_back(variable);
  }
  variables.push_back(preload);
  variables.push_back(sanitizer);
  return variables;
}

int ExitStatusOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // The bridge runs under the preload library itself: the uevents it sends are made from the
  // testbed's sysfs, which only the preloaded library sees.
  const char* preloaded = std::getenv("LD_PRELOAD");
  if (preloaded == nullptr || std::strstr(preloaded, kPreloadLibrary) == nullptr) {
    std::vector<std::string> variables = ChildEnvironment(true);
    std::vector<char*> environment;
    for (auto& variable : variables) environment.push_back(variable.data());
    environment.push_back(nullptr);
    ::execve("/proc/self/exe", argv, environment.data());
    std::fprintf(stderr, "tavrix-usb-bridge: cannot start under umockdev: %s\n", std::strerror(errno));
    return 127;
  }
  CUsbBridgeOptions options;
  int index = 1;
  if (index < argc && std::strcmp(argv[index], "--fixed-authorized") == 0) {
    options.FixedAuthorized = true;
    ++index;
  }
  if (argc - index < 3 || std::strcmp(argv[index + 1], "--") != 0) return Usage();
  options.BusDirectory = argv[index];
  char** command = argv + index + 2;

  CUsbBridge bridge(options);  // creates the testbed and sets UMOCKDEV_DIR for COMMAND
  std::vector<std::string> variables = ChildEnvironment(false);
  std::vector<char*> environment;
  for (auto& variable : variables) environment.push_back(variable.data());
  environment.push_back(nullptr);

  pid_t child = 0;
  int error = ::posix_spawnp(&child, command[0], nullptr, nullptr, command, environment.data());
  if (error != 0) {
    std::fprintf(stderr, "tavrix-usb-bridge: cannot run %s: %s\n", command[0], std::strerror(error));
    return 127;
  }
  g_child = child;
  ::signal(SIGINT, Forward);
  ::signal(SIGTERM, Forward);
  ::signal(SIGHUP, Forward);

  int status = 0;
  for (;;) {
    pid_t ended = ::waitpid(child, &status, WNOHANG);
    if (ended == child) break;
    if (ended < 0 && errno != EINTR) return 1;
    bridge.Serve(std::chrono::milliseconds(20));
  }
  g_child = 0;
  return ExitStatusOf(status);
}
