#include "gui/wizard_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "gui/qt_user_interface.h"
#include "gui/qt_wizard_sheet_view.h"
#include "gui/wizard_window.h"
#include "platform/front_end.h"
#include "platform/string_table.h"
#include "updater/stop_request.h"
#include "wizard/dialog_templates.h"

namespace {

constexpr int kWarningString = 23761;   // the first Ctrl+C while programming
constexpr int kStoppingString = 23762;  // a stop asked for while programming
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The pipe from the handlers to the GUI thread: [0] read, [1] write.
int g_pipe[2] = {-1, -1};
struct sigaction g_previous[std::size(kSignals)];
bool g_installed[std::size(kSignals)] = {};

void OnSignalHandler(int signal) {
  const int saved = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  // A full pipe drops the byte: the signals already in it are handled the same way.
  ssize_t ignored = ::write(g_pipe[1], &number, 1);
  (void)ignored;
  errno = saved;
}

void Say(int stringId) { std::fprintf(stderr, "%s: %s\n", FrontEndName().c_str(), LoadResString(stringId).c_str()); }

}  // namespace

CWizardSignals::CWizardSignals(CWizardWindow& window, CQtUserInterface& ui, CQtWizardSheetView& view)
    : m_window(window), m_ui(ui), m_view(view) {
  ClearProgrammingStop();
  if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("tavrix-update: signal pipe");
    return;
  }
  m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
  QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { Dispatch(); });
  struct sigaction action {};
  action.sa_handler = OnSignalHandler;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    struct sigaction current {};
    sigaction(kSignals[i], nullptr, &current);
    if (current.sa_handler == SIG_IGN) continue;
    g_installed[i] = sigaction(kSignals[i], &action, &g_previous[i]) == 0;
  }
}

CWizardSignals::~CWizardSignals() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    if (g_installed[i]) sigaction(kSignals[i], &g_previous[i], nullptr);
    g_installed[i] = false;
  }
  m_notifier.reset();
  for (int& end : g_pipe) {
    if (end >= 0) ::close(end);
    end = -1;
  }
}

void CWizardSignals::Dispatch() {
  unsigned char number = 0;
  while (::read(g_pipe[0], &number, 1) == 1) OnSignal(number);
}

void CWizardSignals::OnSignal(int signal) {
  const int status = signal == SIGINT ? 130 : 143;
  if (m_window.CurrentPageId() != kProgressPageId) {
    std::fflush(nullptr);
    std::_Exit(status);
  }
  if (signal == SIGINT && ++m_interrupts == 1) {
    Say(kWarningString);
    return;
  }
  if (m_status == 0) {
    m_status = status;
    Say(kStoppingString);
  }
  RequestProgrammingStop();
  // The road of the session ending: the wizard quits as soon as the update is over.
  m_ui.RequestQuit();
  m_ui.AnswerOpenMessageBoxes();
  m_view.PushAction(WizardEvent{WizardAction::Close, m_window.CurrentPageId()});
}
