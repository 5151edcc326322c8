// tavrix-update: the wizard. The GUI thread draws and takes the person's actions; the whole
// core — start-up, the wizard's modal run, the page logic and the updaters' blocking I/O —
// runs on one worker thread, so the window never freezes. The program ends when the core does.

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gui/artwork.h"
#include "gui/core_thread.h"
#include "gui/qt_user_interface.h"
#include "gui/qt_wizard_sheet_view.h"
#include "gui/wizard_signals.h"
#include "gui/wizard_window.h"
#include "platform/clock.h"
#include "platform/front_end.h"
#include "platform/string_table.h"
#include "platform/usb_bus.h"
#include "platform/usb_device_watch.h"
#include "updater/device_catalog.h"
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

constexpr const char* kUsage =
    "Usage: tavrix-update [/lang ID] [/DEBUG] [@FILE]\n"
    "The Tavrix Update wizard: pick a device type from the catalog; the wizard connects to the\n"
    "device, compares its firmware version with the catalog's and, when the device is older,\n"
    "programs it.\n"
    "\n"
    "  /lang ID    the language for this run: 1031 German, 1033 English, 1036 French,\n"
    "              1043 Dutch, 1049 Russian, 3082 Spanish; otherwise the stored choice, asked\n"
    "              at start until \"Do not show this message in the future\" is ticked (hold\n"
    "              Shift at start to be asked again)\n"
    "  /DEBUG      program the device even when it is up to date (upper case only)\n"
    "  @FILE       read further arguments from FILE\n"
    "  --help      this text\n"
    "  --version   the program's name and version\n"
    "Switches may begin with \"-\" too. Reading stops at a switch the wizard does not know.\n"
    "Qt's own options (-platform NAME, -style NAME, ...) are taken as well.\n"
    "\n"
    "The catalog is tavrix-update.config beside the program or, installed, in\n"
    "%s/ from the program's folder. Settings are kept in ~/.config/Tavrix/.\n"
    "Environment: TAVRIX_USB_BUS, TAVRIX_WAIT_SCALE, TAVRIX_TRACE; see tavrix-update(1).\n";

// --help and --version are answered before Qt starts, so that they need no display and open
// no window.
bool HasSwitch(int argc, char* argv[], const char* name) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return true;
  }
  return false;
}

// "There is no display to open the wizard on (...). tavrix-update-cli updates devices in a
// terminal and from scripts."
constexpr int kNoDisplayString = 41009;

// The language of the message said before anything else is set up: the one the command line
// names ("/lang ID"; response files are left for the start-up, which reads them once), else
// the environment's.
void ChooseEarlyLanguage(int argc, char* argv[]) {
  int langId = 0;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i] + (argv[i][0] == '/' || argv[i][0] == '-' ? 1 : 0), "lang") == 0) {
      langId = std::atoi(argv[i + 1]);
    }
  }
  SetUiLanguage(langId);
}

void SayNoDisplay() { std::fprintf(stderr, "tavrix-update: %s\n", LoadResString(kNoDisplayString).c_str()); }

// Qt ends the program with an abort when its window system cannot start (no display, or one
// that cannot be reached). Said as this program, with the way out, and ended as a usage error.
void EndWithoutADisplay(QtMsgType type, const QMessageLogContext& /*context*/, const QString& message) {
  std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
  if (type != QtFatalMsg) return;
  SayNoDisplay();
  std::_Exit(2);
}

// Whether the window system Qt will pick can have no display: none named in the environment or
// on the command line for a platform that needs one.
bool NoDisplayGiven(int argc, char* argv[]) {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if ((platform != nullptr && *platform != '\0') || HasSwitch(argc, argv, "-platform")) return false;
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x == nullptr || *x == '\0') && (wayland == nullptr || *wayland == '\0');
}

}  // namespace

int main(int argc, char* argv[]) {
  if (HasSwitch(argc, argv, "--help")) {
    std::printf(kUsage, DeviceCatalog::InstalledDataFolder());
    return 0;
  }
  if (HasSwitch(argc, argv, "--version")) {
    std::printf("tavrix-update %s\n", TAVRIX_VERSION_TEXT);
    return 0;
  }
  InstallClockFromEnvironment();
  SetFrontEndName("tavrix-update");
  // Made before everything else, so destroyed after it; the updater and its transport go
  // before the bus (see CProgramBus).
  CProgramBus bus(CreateUsbBusFromEnvironment());
  ChooseEarlyLanguage(argc, argv);
  if (NoDisplayGiven(argc, argv)) {
    SayNoDisplay();
    return 2;
  }
  QtMessageHandler previousHandler = qInstallMessageHandler(EndWithoutADisplay);
  QApplication app(argc, argv);
  qInstallMessageHandler(previousHandler);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(CArtwork::ApplicationIcon());
  // Desktops match the window to the installed menu entry (tavrix-update.desktop) by this name.
  QGuiApplication::setDesktopFileName(QStringLiteral("tavrix-update"));

  CQtUserInterface ui;
  SetUserInterface(&ui);
  CWizardWindow window;
  ui.SetMainWindow(&window);
  CQtWizardSheetView view(window);
  // Devices that come or go while the wizard runs: the page shown reads the bus again (the
  // start page's marks). Destroyed before the view it feeds.
  std::unique_ptr<IUsbDeviceWatch> deviceWatch =
      WatchUsbDevices(UsbBus(), [&view] { view.PushAction(WizardEvent{WizardAction::DevicesChanged, 0}); });
  // A quit request from outside (the session ending) ends the wizard as the close box would.
  QObject::connect(&app, &QCoreApplication::aboutToQuit, [&ui, &view, &window] {
    ui.RequestQuit();
    view.PushAction(WizardEvent{WizardAction::Close, window.CurrentPageId()});
  });
  // SIGTERM, SIGHUP and Ctrl+C: at once outside programming, at the update's next safe point
  // during it.
  CWizardSignals interrupts(window, ui, view);

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
  if (interrupts.ExitStatus() != 0) exitCode = interrupts.ExitStatus();
  SetUserInterface(nullptr);
  return exitCode;
}
