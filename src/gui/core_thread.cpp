#include "gui/core_thread.h"

#include <QCoreApplication>
#include <cstdio>
#include <exception>

#include "gui/gui_thread.h"
#include "gui/wizard_window.h"

CCoreThread::CCoreThread(CWizardWindow& window, std::function<int()> core)
    : m_window(window), m_thread([this, core = std::move(core)] { Run(core); }) {}

CCoreThread::~CCoreThread() {
  if (m_thread.joinable()) Wait();
}

void CCoreThread::Run(const std::function<int()>& core) {
  int exitCode = 1;
  try {
    exitCode = core();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tavrix-update: %s\n", error.what());
  }
  m_exitCode = exitCode;
  m_done = true;
  // The wizard is over: its window may close now, and the event loop ends (exit, not quit: a
  // quit request would first ask every window to close).
  CGuiThread::Post([window = &m_window, exitCode] {
    window->AllowClose();
    window->hide();
    QCoreApplication::exit(exitCode);
  });
}

void CCoreThread::Wait() {
  while (!m_done) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  m_thread.join();
}
