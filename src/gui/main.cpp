// tavrix-update: the wizard. The GUI thread draws and takes the person's actions; the whole
// core — start-up, the wizard's modal run, the page logic and the updaters' blocking I/O —
// runs on one worker thread, so the window never freezes. The program ends when the core does.

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gui/artwork.h"
#include "gui/core_thread.h"
#include "gui/qt_user_interface.h"
#include "gui/qt_wizard_sheet_view.h"
#include "gui/wizard_window.h"
#include "platform/clock.h"
#include "wizard/the_app.h"
#include "wizard/wizard_state.h"

namespace {

// The command line after the program name, without the arguments Qt took for itself.
std::vector<std::string> CoreArguments() {
  std::vector<std::string> args;
  const QStringList all = QCoreApplication::arguments();
  for (qsizetype i = 1; i < all.size(); ++i) args.push_back(all[i].toLocal8Bit().toStdString());
  return args;
}

// "--version" anywhere on the command line. It is answered before Qt starts, so that it needs
// no display and opens no window.
bool AsksForVersion(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (AsksForVersion(argc, argv)) {
    std::printf("tavrix-update %s\n", TAVRIX_VERSION_TEXT);
    return 0;
  }
  InstallClockFromEnvironment();
  // Made before everything else, so destroyed after it; the updater and its transport go
  // before the bus (see CProgramBus).
  CProgramBus bus(CreateUsbBusFromEnvironment());
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(CArtwork::ApplicationIcon());

  CQtUserInterface ui;
  SetUserInterface(&ui);
  CWizardWindow window;
  ui.SetMainWindow(&window);
  CQtWizardSheetView view(window);
  // A quit request from outside (the session ending) ends the wizard as the close box would.
  QObject::connect(&app, &QCoreApplication::aboutToQuit, [&ui, &view, &window] {
    ui.RequestQuit();
    view.PushAction(WizardEvent{WizardAction::Close, window.CurrentPageId()});
  });

  int exitCode = 0;
  {
    CCoreThread core(window, [&view, args = CoreArguments()] {
      CTheApp theApp(view, args);
      theApp.InitInstance();
      return 0;
    });
    QApplication::exec();
    core.Wait();
    exitCode = core.ExitCode();
  }
  SetUserInterface(nullptr);
  return exitCode;
}
