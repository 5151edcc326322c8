#include "console/programming_signals.h"

#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>

#include "platform/string_table.h"
#include "updater/stop_request.h"

namespace {

constexpr int kWarningString = 23761;   // the first Ctrl+C while programming
constexpr int kStoppingString = 23762;  // a stop asked for while programming
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t g_programming = 0;
volatile std::sig_atomic_t g_interrupts = 0;
volatile std::sig_atomic_t g_stopStatus = 0;
// The texts the handler writes, made beforehand in the language of the run: a handler may
// only call write().
char g_warning[1024];
char g_stopping[512];

void Keep(char* buffer, std::size_t size, const std::string& text) {
  std::string line = "tavrix-update-cli: " + text + "\n";
  std::strncpy(buffer, line.c_str(), size - 1);
  buffer[size - 1] = '\0';
}

void Say(const char* text) {
  ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

void OnSignal(int signal) {
  const int status = signal == SIGINT ? 130 : 143;
  if (!g_programming) ::_exit(status);
  if (signal == SIGINT && ++g_interrupts == 1) {
    Say(g_warning);
    return;
  }
  if (g_stopStatus == 0) {
    g_stopStatus = status;
    Say(g_stopping);
  }
  RequestProgrammingStop();
}

struct sigaction g_previous[std::size(kSignals)];

}  // namespace

CProgrammingSignals::CProgrammingSignals() {
  g_programming = 0;
  g_interrupts = 0;
  g_stopStatus = 0;
  ClearProgrammingStop();
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &g_previous[i]);
}

CProgrammingSignals::~CProgrammingSignals() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
  g_programming = 0;
}

void CProgrammingSignals::SetProgramming(bool programming) {
  if (programming) {
    Keep(g_warning, sizeof g_warning, LoadResString(kWarningString));
    Keep(g_stopping, sizeof g_stopping, LoadResString(kStoppingString));
  }
  g_programming = programming ? 1 : 0;
}

int CProgrammingSignals::StopStatus() { return g_stopStatus; }
