// The built wizard in a real X server, driven as a person drives it: the virtual X server
// (Xvfb) shows it, xdotool clicks at screen positions and presses keys through XTest, and every
// check reads the pixels from the server's own framebuffer file. Nothing here calls into a
// widget: a button is found on the screen by its outline, a page by what it shows.
//
// The pictures go to build/screenshots/xvfb/; scripts/update-screenshots.sh copies the README's
// from there.

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/string_table.h"
#include "support/child_process.h"
#include "support/net_namespace.h"
#include "support/run_program.h"
#include "support/screen_search.h"
#include "support/temp_folder.h"
#include "support/xwd_image.h"

namespace {

using namespace std::chrono_literals;

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
constexpr std::uint32_t kRootColour = 0x000000;  // Xvfb -br: a black root window
constexpr std::uint32_t kWhite = 0xFFFFFF;

// Texts the person reads, from the program's own string tables.
std::string English(int id) { return LoadResStringIn(id, LANG_ENGLISH); }
const std::string kWizardTitle = English(57344);
const std::string kInterfaceTitle = English(20002000);
const std::string kConnectTitle = English(20005000);
const std::string kAnimationTitle = English(30502000);
const std::string kLanguageTitle = English(3010000);
const std::string kServerLoginTitle = English(20004000);

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A window title as an anchored extended regular expression (xdotool search --name).
std::string WholeTitle(const std::string& title) {
  std::string pattern = "^";
  for (char c : title) {
    if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) pattern += '\\';
    pattern += c;
  }
  return pattern + "$";
}

// Polls `done` every 50 ms for at most `bound`.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

ScreenRect Centred(const ScreenRect& rect) { return {rect.x + rect.width / 2, rect.y + rect.height / 2, 0, 0}; }

// The wizard's button row, left to right: "Info", "< Back", "Next >" or "Finish", "Cancel".
std::vector<ScreenRect> WizardButtons(const CXwdImage& screen, const ScreenRect& wizard) {
  const ScreenRect bar{wizard.x, wizard.y + wizard.height * 3 / 4, wizard.width, wizard.height / 4};
  std::vector<ScreenRect> buttons = FindButtons(screen, bar);
  std::sort(buttons.begin(), buttons.end(), [](const ScreenRect& a, const ScreenRect& b) { return a.x < b.x; });
  return buttons;
}
constexpr std::size_t kWizardButtonCount = 4;
constexpr std::size_t kNextOrFinish = 2;

// The "Interface" dialog's buttons, top to bottom, below its banner and text (the banner's
// picture of a monitor has a button's outline).
std::vector<ScreenRect> InterfaceButtons(const CXwdImage& screen, const ScreenRect& dialog) {
  return FindButtons(screen, {dialog.x, dialog.y + dialog.height / 2, dialog.width, dialog.height / 2});
}

// The start and done pages show the wizard's artwork down their left side; the pages between
// are white there.
bool ShowsArtworkAtLeft(const CXwdImage& screen, const ScreenRect& wizard) {
  const ScreenRect strip{wizard.x + 4, wizard.y + 10, 20, wizard.height / 2};
  return screen.CountOtherThan(strip, kWhite) > static_cast<std::size_t>(strip.width * strip.height) * 9 / 10;
}

// Whether every pixel in which `a` and `b` differ inside `rect` lies in one band of rows at
// most `band` high: a page that holds still but for its busy bar.
bool ChangedOnlyInOneBand(const CXwdImage& a, const CXwdImage& b, const ScreenRect& rect, int band) {
  int first = -1;
  int last = -1;
  for (int y = rect.y; y < rect.y + rect.height; ++y) {
    if (a.CountDifferences(b, {rect.x, y, rect.width, 1}) == 0) continue;
    if (first < 0) first = y;
    last = y;
  }
  return first < 0 || last - first < band;
}

// The runs of rows of `rect` that hold anything but `background` (lines of text, a bar, a box),
// as first row and height, top to bottom.
std::vector<std::pair<int, int>> InkBands(const CXwdImage& screen, const ScreenRect& rect, std::uint32_t background) {
  std::vector<std::pair<int, int>> bands;
  bool inBand = false;
  for (int y = rect.y; y < rect.y + rect.height; ++y) {
    const bool ink = screen.CountOtherThan({rect.x, y, rect.width, 1}, background) > 0;
    if (ink && !inBand) bands.push_back({y, 0});
    if (ink) ++bands.back().second;
    inBand = ink;
  }
  return bands;
}

// The virtual X server on a display number it picks itself, its framebuffer in `folder`. It
// draws no pointer: the server paints its pointer into the framebuffer, over what the checks
// and the pictures look at. It does not reset when its last client goes: every xdotool call
// is a client of its own, and a reset refuses the wizard's connection and rewrites the
// framebuffer while it lasts.
class CXServer {
 public:
  explicit CXServer(const std::filesystem::path& folder)
      : m_folder(folder),
        m_process("Xvfb", {"-displayfd", "1", "-fbdir", folder.string(), "-screen", "0",
                           std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24",
                           "-nolisten", "tcp", "-br", "-nocursor", "-noreset"}) {
    if (auto number = m_process.ReadLine(10s)) m_display = ":" + *number;
  }

  // Empty when the server did not start.
  const std::string& Display() const { return m_display; }

  std::optional<CXwdImage> Screen() const {
    std::string error;
    auto image = CXwdImage::Read(m_folder / "Xvfb_screen0", error);
    EXPECT_TRUE(image.has_value()) << error;
    return image;
  }

  // Runs xdotool on this display; its standard output, `status` set to the shell's. What it
  // has to complain about goes to the test's log.
  std::string XDoTool(const std::string& args, int& status) const {
    return RunProgram("DISPLAY=" + m_display + " xdotool " + args, status);
  }

  // The visible windows with this title, where they are on the screen.
  std::vector<ScreenRect> FindWindows(const std::string& title) const {
    int status = 0;
    std::istringstream ids(XDoTool("search --onlyvisible --name " + ShellQuoted(WholeTitle(title)), status));
    std::vector<ScreenRect> windows;
    for (std::string id; status == 0 && std::getline(ids, id);) {
      std::istringstream shell(XDoTool("getwindowgeometry --shell " + id, status));
      std::map<std::string, int> values;
      for (std::string line; std::getline(shell, line);) {
        if (auto equals = line.find('='); equals != std::string::npos) {
          values[line.substr(0, equals)] = std::atoi(line.c_str() + equals + 1);
        }
      }
      windows.push_back({values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]});
    }
    return windows;
  }

  // A click with the left button at a point on the screen. (No --sync: it waits for a motion
  // that never comes when the pointer is already there.)
  void Click(const ScreenRect& at) const {
    int status = 0;
    const std::string output =
        XDoTool("mousemove " + std::to_string(at.x) + " " + std::to_string(at.y) + " click 1", status);
    EXPECT_EQ(status, 0) << output;
  }

  void Key(const std::string& name) const {
    int status = 0;
    const std::string output = XDoTool("key " + name, status);
    EXPECT_EQ(status, 0) << output;
  }

 private:
  std::filesystem::path m_folder;
  CChildProcess m_process;
  std::string m_display;
};

class WizardOnScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* folder : {"fb", "bus", "config", "runtime"}) std::filesystem::create_directories(m_folder / folder);
    std::filesystem::permissions(m_folder / "runtime", std::filesystem::perms::owner_all);
    m_x = std::make_unique<CXServer>(m_folder / "fb");
    ASSERT_FALSE(m_x->Display().empty()) << "Xvfb did not start: scripts/setup.sh installs it (package xvfb)";
    int status = 0;
    const std::string version = m_x->XDoTool("version", status);
    ASSERT_EQ(status, 0) << "xdotool does not run: scripts/setup.sh installs it (package xdotool)\n" << version;
    std::filesystem::create_directories(ShotFolder());
  }

  void TearDown() override {
    // What the screen showed when a check failed.
    if (HasFailure() && m_x && !m_x->Display().empty()) {
      if (auto screen = m_x->Screen()) {
        SaveShot(*screen, screen->Bounds(),
                 std::string("failed-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
      }
    }
    m_wizard.reset();
    m_devsim.reset();
    m_x.reset();
  }

  // The environment of the simulator and the wizard: this test's display, bus and settings.
  std::map<std::string, std::string> Environment() const {
    return {{"DISPLAY", m_x->Display()},
            {"QT_QPA_PLATFORM", "xcb"},
            {"TAVRIX_USB_BUS", m_folder / "bus"},
            // Long enough for the "Firmware Update" window to be seen, short enough for a test.
            {"TAVRIX_WAIT_SCALE", m_waitScale},
            {"XDG_CONFIG_HOME", m_folder / "config"},
            // The user's own servo projects: the pictures then name a folder of no machine's.
            {"XDG_DATA_HOME", m_folder / "data"},
            {"XDG_RUNTIME_DIR", m_folder / "runtime"},
            // The update history of this test alone.
            {"XDG_STATE_HOME", m_folder / "state"},
            {"LANG", "C.UTF-8"},
            {"LC_ALL", ""},
            {"LC_MESSAGES", ""}};
  }

  // tavrix-devsim with these arguments.
  void PlugIn(const std::vector<std::string>& args) {
    m_devsim = std::make_unique<CChildProcess>(std::string(TAVRIX_BIN_DIR) + "/tavrix-devsim", args, Environment());
    ASSERT_TRUE(m_devsim->ReadLine(10s).has_value()) << "tavrix-devsim did not start";
  }

  void StartWizard(const std::vector<std::string>& args) {
    const std::string wizard = std::string(TAVRIX_BIN_DIR) + "/tavrix-update";
    if (!m_readErrors) {
      m_wizard = std::make_unique<CChildProcess>(wizard, args, Environment());
    } else {
      // Standard error with the output, for ReadLine; exec keeps the wizard's own process.
      std::vector<std::string> shell{"-c", "exec \"$0\" \"$@\" 2>&1", wizard};
      shell.insert(shell.end(), args.begin(), args.end());
      m_wizard = std::make_unique<CChildProcess>("/bin/sh", shell, Environment());
    }
    ASSERT_TRUE(m_wizard->Started());
  }
  // The update history of this test, as JSON lines.
  std::string History() const {
    std::string command = "env";
    for (const auto& [name, value] : Environment()) command += " " + name + "=" + ShellQuoted(value);
    int status = -1;
    const std::string history =
        RunProgram(command + " " + std::string(TAVRIX_BIN_DIR) + "/tavrix-update-cli history --json 2>&1", status);
    EXPECT_EQ(status, 0) << history;
    return history;
  }
  // The update history holds a failed update of the wizard's with the message `messageId`.
  void ExpectFailureRecorded(int messageId) const {
    const std::string history = History();
    EXPECT_NE(history.find("\"result\":\"failed\""), std::string::npos) << history;
    EXPECT_NE(history.find("\"message_id\":" + std::to_string(messageId)), std::string::npos) << history;
    EXPECT_NE(history.find("\"front_end\":\"tavrix-update\""), std::string::npos) << history;
  }
  // Everything the wizard has written to its output up to its end.
  std::string WizardOutput() {
    std::string text;
    while (std::optional<std::string> line = m_wizard->ReadLine(1s)) text += *line + "\n";
    return text;
  }

  static std::filesystem::path ShotFolder() { return std::filesystem::path(TAVRIX_SCREENSHOT_DIR) / "xvfb"; }

  // Writes the part `rect` of the screen as ShotFolder()/<name>.png.
  static void SaveShot(const CXwdImage& screen, const ScreenRect& rect, const std::string& name) {
    const CXwdImage part = screen.Crop(rect);
    QImage image(part.Width(), part.Height(), QImage::Format_RGB32);
    for (int y = 0; y < part.Height(); ++y) {
      for (int x = 0; x < part.Width(); ++x) image.setPixel(x, y, part.Pixel(x, y));
    }
    const std::string path = (ShotFolder() / (name + ".png")).string();
    EXPECT_TRUE(image.save(QString::fromStdString(path))) << path;
  }

  // Waits until exactly one window with `title` is up and drawn on the screen: on the screen
  // as a whole, not one flat colour, nothing of the root left inside it, and two readings of
  // the framebuffer in a row show it the same. `ready` may ask more of the picture.
  struct Seen {
    CXwdImage screen;
    ScreenRect window;
  };
  std::optional<Seen> WaitForWindow(const std::string& title,
                                    const std::function<bool(const CXwdImage&, const ScreenRect&)>& ready = {},
                                    std::chrono::milliseconds bound = 20s) {
    std::optional<Seen> seen;
    std::optional<CXwdImage> previous;
    WaitFor([&] {
      const std::vector<ScreenRect> windows = m_x->FindWindows(title);
      std::optional<CXwdImage> screen = m_x->Screen();
      if (windows.size() != 1 || !screen) return false;
      const ScreenRect& window = windows[0];
      const bool drawn = screen->Bounds().Contains(window) && !window.Empty() &&
                         screen->CountColours(window) >= 16 && screen->CountOtherThan(window, kRootColour) * 100 >=
                         static_cast<std::size_t>(window.width) * window.height * 95;
      const bool settled = previous && previous->CountDifferences(*screen, window) == 0;
      previous = screen;
      if (!drawn || !settled || (ready && !ready(*screen, window))) return false;
      seen = Seen{*std::move(screen), window};
      return true;
    }, bound);
    return seen;
  }

  bool WindowGone(const std::string& title, std::chrono::milliseconds bound = 20s) {
    return WaitFor([&] { return m_x->FindWindows(title).empty(); }, bound);
  }

  // From the start page with the wanted entry selected: Next, the flash page, the "Firmware
  // Update" window while the download runs, the done page, and Finish ending the program with
  // status 0. `pictures`: save the README's pictures of each step.
  void UpdateFromStartPage(const Seen& start, bool pictures) {
    const ScreenRect wizard = start.window;
    m_x->Click(Centred(WizardButtons(start.screen, wizard)[kNextOrFinish]));

    // The flash page: the device was found and is older than the catalog's firmware.
    auto flash = WaitForWindow(kWizardTitle, [](const CXwdImage& screen, const ScreenRect& window) {
      return !ShowsArtworkAtLeft(screen, window) && WizardButtons(screen, window).size() == kWizardButtonCount;
    });
    ASSERT_TRUE(flash) << "no drawn flash page";
    EXPECT_EQ(flash->window.x, wizard.x);
    EXPECT_TRUE(m_x->FindWindows(kInterfaceTitle).empty());
    if (pictures) SaveShot(flash->screen, wizard, "wizard-2-flash-page");
    m_x->Click(Centred(WizardButtons(flash->screen, wizard)[kNextOrFinish]));

    // The "Firmware Update" window while the download runs: drawn, centred over the wizard.
    // Its animation moves, so it is taken as soon as it is drawn, not once it is still.
    std::optional<CXwdImage> animationScreen;
    ScreenRect animation;
    ASSERT_TRUE(WaitFor([&] {
      const std::vector<ScreenRect> windows = m_x->FindWindows(kAnimationTitle);
      animationScreen = m_x->Screen();

      if (windows.size() != 1 || !animationScreen) return false;
      animation = windows[0];
      return animationScreen->CountColours(animation) >= 16 &&
             flash->screen.CountDifferences(*animationScreen, animation) * 2 >
                 static_cast<std::size_t>(animation.width) * animation.height;
    }, 20s)) << "no drawn \"" << kAnimationTitle << "\" window";
    EXPECT_TRUE(wizard.Contains(animation));
    EXPECT_NEAR(Centred(animation).x, Centred(wizard).x, 2);
    EXPECT_NEAR(Centred(animation).y, Centred(wizard).y, 2);
    if (pictures) SaveShot(*animationScreen, animation, "firmware-update-window");
    if (pictures) SaveShot(*animationScreen, wizard, "wizard-3-progress-page");

    // The done page, once the window is gone: the artwork again, Finish where Next was.
    ASSERT_TRUE(WindowGone(kAnimationTitle)) << "the \"" << kAnimationTitle << "\" window stayed";
    auto done = WaitForWindow(kWizardTitle, [&](const CXwdImage& screen, const ScreenRect& window) {
      return ShowsArtworkAtLeft(screen, window) && WizardButtons(screen, window).size() == kWizardButtonCount &&
             start.screen.CountDifferences(screen, window) > 1000;
    });
    ASSERT_TRUE(done) << "no drawn done page";
    if (pictures) SaveShot(done->screen, wizard, "wizard-4-done-page");
    m_x->Click(Centred(WizardButtons(done->screen, wizard)[kNextOrFinish]));

    const std::optional<int> status = m_wizard->WaitForExit(10s);
    ASSERT_TRUE(status.has_value()) << "Finish did not end the program";
    EXPECT_EQ(*status, 0);
  }

  // The terminal front end, in this test's environment, finds the entry `id` up to date at
  // `version` (without a terminal to confirm on, an older device would exit 2). The device may
  // still be on its way back from a reset.
  void ExpectUpToDate(const std::string& id, const std::string& version = "3.12") {
    std::string command = "env";
    for (const auto& [name, value] : Environment()) command += " " + name + "=" + ShellQuoted(value);
    command += " " + std::string(TAVRIX_BIN_DIR) + "/tavrix-update-cli update " + id + " </dev/null 2>&1";
    std::string output;
    EXPECT_TRUE(WaitFor([&] {
      int cliStatus = -1;
      output = RunProgram(command, cliStatus);
      return cliStatus == 0;
    }, 10s)) << output;
    EXPECT_NE(output.find(version), std::string::npos) << output;
  }

  // The start page of the demo catalog with its last entry, the servo trainer, selected: by
  // the wizard itself when the trainer is the only device attached, else with the keyboard.
  // Its demo project is the user's own, in this test's data folder.
  std::optional<Seen> StartWithTheServoTrainer(bool attached) {
    std::filesystem::create_directories(m_folder.Path() / "data" / "tavrix-update");
    std::filesystem::copy(std::string(TAVRIX_BIN_DIR) + "/Drive001", m_folder.Path() / "data" / "tavrix-update" / "Drive001",
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
    StartWizard({"/lang", std::to_string(LANG_ENGLISH)});
    auto start = WaitForWindow(kWizardTitle, [](const CXwdImage& screen, const ScreenRect& wizard) {
      return ShowsArtworkAtLeft(screen, wizard) && WizardButtons(screen, wizard).size() == kWizardButtonCount;
    });
    EXPECT_TRUE(start) << "no drawn start page";
    if (!start || attached) return start;
    m_x->Key("End");  // the device list has the focus: its last entry
    auto picked = WaitForWindow(kWizardTitle, [&](const CXwdImage& screen, const ScreenRect& window) {
      return start->screen.CountDifferences(screen, window) > 100;
    });
    EXPECT_TRUE(picked) << "End selected nothing";
    return picked;
  }

  // From the start page through the flash page to the progress page of the servo trainer's
  // application download, once it holds still while the drive works on a command: only the
  // busy bar moves then. The flash page is returned in `flash`.
  std::optional<Seen> GoToServoProgressPage(const Seen& start, std::optional<Seen>& flash) {
    const ScreenRect wizard = start.window;
    m_x->Click(Centred(WizardButtons(start.screen, wizard)[kNextOrFinish]));
    flash = WaitForWindow(kWizardTitle, [](const CXwdImage& screen, const ScreenRect& window) {
      return !ShowsArtworkAtLeft(screen, window) && WizardButtons(screen, window).size() == kWizardButtonCount;
    });
    EXPECT_TRUE(flash) << "no drawn flash page";
    if (!flash) return std::nullopt;
    m_x->Click(Centred(WizardButtons(flash->screen, wizard)[kNextOrFinish]));
    std::optional<Seen> seen;
    std::optional<CXwdImage> previous;
    WaitFor([&] {
      std::optional<CXwdImage> screen = m_x->Screen();
      if (!screen) return false;
      const bool progressPage = !ShowsArtworkAtLeft(*screen, wizard) &&
                                flash->screen.CountDifferences(*screen, wizard) > 1000;
      const bool still = previous && ChangedOnlyInOneBand(*previous, *screen, wizard, kBusyBarRows);
      previous = screen;
      if (!progressPage || !still) return false;
      seen = Seen{*std::move(screen), wizard};
      return true;
    }, 20s);
    EXPECT_TRUE(seen) << "no progress page that held still";
    return seen;
  }
  static constexpr int kBusyBarRows = 40;

  // The start page of the demo catalog, in English, its first entry (QI-2A1) selected.
  std::optional<Seen> StartPage() {
    StartWizard({"/lang", std::to_string(LANG_ENGLISH)});
    auto start = WaitForWindow(kWizardTitle, [](const CXwdImage& screen, const ScreenRect& wizard) {
      return ShowsArtworkAtLeft(screen, wizard) && WizardButtons(screen, wizard).size() == kWizardButtonCount;
    });
    EXPECT_TRUE(start) << "no drawn start page";
    return start;
  }

  // The start page of the demo catalog with the entry `id` picked by typing it: the list has
  // the keyboard on the start page, and typing an entry's beginning selects it.
  std::optional<Seen> StartWithEntry(const std::string& id) {
    auto start = StartPage();
    if (!start) return std::nullopt;
    int status = 0;
    const std::string typed = m_x->XDoTool("type --delay 20 " + id, status);
    EXPECT_EQ(status, 0) << typed;
    auto picked = WaitForWindow(kWizardTitle, [&](const CXwdImage& screen, const ScreenRect& window) {
      return start->screen.CountDifferences(screen, window) > 100;
    });
    EXPECT_TRUE(picked) << "typing " << id << " selected nothing";
    return picked;
  }

  // From the start page to the flash page, then Next there: returns the flash page.
  std::optional<Seen> ConfirmProgramming(const Seen& start) {
    const ScreenRect wizard = start.window;
    m_x->Click(Centred(WizardButtons(start.screen, wizard)[kNextOrFinish]));
    auto flash = WaitForWindow(kWizardTitle, [](const CXwdImage& screen, const ScreenRect& window) {
      return !ShowsArtworkAtLeft(screen, window) && WizardButtons(screen, window).size() == kWizardButtonCount;
    });
    EXPECT_TRUE(flash) << "no drawn flash page";
    if (flash) m_x->Click(Centred(WizardButtons(flash->screen, wizard)[kNextOrFinish]));
    return flash;
  }

  // The simulated `device` plugged in, the entry `id` picked on the start page and programming
  // confirmed on the flash page: where the wizard is on the screen.
  std::optional<ScreenRect> StartProgramming(const std::string& device, const std::string& id) {
    PlugIn({"--device", device});
    auto start = StartWithEntry(id);
    if (!start || !ConfirmProgramming(*start)) return std::nullopt;
    return start->window;
  }

  std::string m_waitScale = "0.5";
  bool m_readErrors = false;  // StartWizard: the wizard's standard error readable with its output
  CTempFolder m_folder;
  std::unique_ptr<CXServer> m_x;
  std::unique_ptr<CChildProcess> m_devsim;
  std::unique_ptr<CChildProcess> m_wizard;
};

// No device on the bus: Next on the start page brings up the "Interface" dialog over the
// wizard. "Exit Program" ends the program, as its label says, with nothing programmed.
TEST_F(WizardOnScreen, WithoutADeviceTheInterfaceDialogAppears) {
  StartWizard({"/lang", std::to_string(LANG_ENGLISH)});
  auto start = WaitForWindow(kWizardTitle, [](const CXwdImage& screen, const ScreenRect& wizard) {
    return ShowsArtworkAtLeft(screen, wizard) && WizardButtons(screen, wizard).size() == kWizardButtonCount;
  });
  ASSERT_TRUE(start) << "no drawn start page";
  const ScreenRect wizard = start->window;
  m_x->Click(Centred(WizardButtons(start->screen, wizard)[kNextOrFinish]));

  auto dialog = WaitForWindow(kInterfaceTitle, [](const CXwdImage& screen, const ScreenRect& window) {
    return InterfaceButtons(screen, window).size() == 3;
  });
  ASSERT_TRUE(dialog) << "no drawn \"" << kInterfaceTitle << "\" dialog";
  // It lies over the wizard, which stays where it was, and is drawn on top of it.
  EXPECT_TRUE(wizard.Contains(dialog->window));
  ASSERT_EQ(m_x->FindWindows(kWizardTitle).size(), 1u);
  EXPECT_EQ(m_x->FindWindows(kWizardTitle)[0].x, wizard.x);
  EXPECT_GT(start->screen.CountDifferences(dialog->screen, dialog->window) * 2,
            static_cast<std::size_t>(dialog->window.width) * dialog->window.height);
  SaveShot(dialog->screen, dialog->window, "interface-dialog");
  SaveShot(dialog->screen, wizard, "interface-dialog-over-wizard");

  // "Repeat Initialising", "Run Program in Simulation Mode", "Exit Program", top to bottom.
  m_x->Click(Centred(InterfaceButtons(dialog->screen, dialog->window).back()));
  const std::optional<int> status = m_wizard->WaitForExit(10s);
  ASSERT_TRUE(status.has_value()) << "\"Exit Program\" did not end the program";
  EXPECT_EQ(*status, 0);
  EXPECT_TRUE(m_x->FindWindows(kWizardTitle).empty());
}

// A simulated 2A interface at 3.07 and a first start: the language is asked, the device is
// found and programmed to 3.12 under the "Firmware Update" window, and Finish ends the program.
TEST_F(WizardOnScreen, UpdatesASimulatedDeviceFromTheFirstStart) {
  PlugIn({"--device", "2a:variant=1,firmware=307"});
  StartWizard({});

  // A first start asks for the language before any wizard window shows.
  auto language = WaitForWindow(kLanguageTitle);
  ASSERT_TRUE(language) << "no drawn \"" << kLanguageTitle << "\" dialog";
  EXPECT_TRUE(m_x->FindWindows(kWizardTitle).empty());
  SaveShot(language->screen, language->window, "language-selection-dialog");
  m_x->Key("Return");  // OK, with English, the language of this environment, chosen

  auto start = WaitForWindow(kWizardTitle, [](const CXwdImage& screen, const ScreenRect& wizard) {
    return ShowsArtworkAtLeft(screen, wizard) && WizardButtons(screen, wizard).size() == kWizardButtonCount;
  });
  ASSERT_TRUE(start) << "no drawn start page";
  EXPECT_TRUE(m_x->FindWindows(kLanguageTitle).empty());
  SaveShot(start->screen, start->window, "wizard-1-start-page");
  UpdateFromStartPage(*start, true);
  // The device took the whole download: once it is back from its reset, the terminal front
  // end finds it up to date.
  ExpectUpToDate("QI-2A1");
}

// The demo bench, one simulated device of every family: the person types the automotive
// trainer's Id into the start page's list, and the trainer is restarted into its loader and
// given its firmware text under the "Firmware Update" window.
TEST_F(WizardOnScreen, UpdatesTheAutomotiveTrainerPickedFromTheDemoBench) {
  PlugIn({"--demo", std::string(TAVRIX_BIN_DIR) + "/tavrix-update.config"});
  StartWizard({"/lang", std::to_string(LANG_ENGLISH)});
  auto start = WaitForWindow(kWizardTitle, [](const CXwdImage& screen, const ScreenRect& wizard) {
    return ShowsArtworkAtLeft(screen, wizard) && WizardButtons(screen, wizard).size() == kWizardButtonCount;
  });
  ASSERT_TRUE(start) << "no drawn start page";
  // The list has the keyboard on the start page; typing an entry's beginning selects it.
  int status = 0;
  const std::string typed = m_x->XDoTool("type --delay 20 AT-MOTREVO", status);
  ASSERT_EQ(status, 0) << typed;
  auto picked = WaitForWindow(kWizardTitle, [&](const CXwdImage& screen, const ScreenRect& window) {
    return start->screen.CountDifferences(screen, window) > 100;
  });
  ASSERT_TRUE(picked) << "typing the Id selected nothing";
  UpdateFromStartPage(*picked, false);
  ExpectUpToDate("AT-MOTREVO");
}
// The servo trainer's drive takes the project of its drive number: while the drive works on
// a command of the sequence ("Check target", held for a while by the simulated drive), the
// progress page names the project folder and what the project holds under the changing status
// line and the busy bar. Afterwards the drive reports the new application version.
TEST_F(WizardOnScreen, TheServoTrainersProjectIsNamedWhileItDownloads) {
  PlugIn({"--device", "servo:application=100,busy=27:30000"});
  auto start = StartWithTheServoTrainer(true);
  ASSERT_TRUE(start);
  const ScreenRect wizard = start->window;
  std::optional<Seen> flash;
  auto progress = GoToServoProgressPage(*start, flash);
  ASSERT_TRUE(progress);
  SaveShot(flash->screen, wizard, "wizard-servo-flash-page");
  SaveShot(progress->screen, wizard, "wizard-servo-progress-page");
  // On the white page, top to bottom: the title, the status line, the bar, the detail line,
  // then the project's two lines, "Project folder:" with the folder and the summary.
  const ScreenRect page{wizard.x + 4, wizard.y, wizard.width - 8, wizard.height * 3 / 4};
  const auto lines = InkBands(progress->screen, page, kWhite);
  EXPECT_EQ(lines.size(), 6u);

  auto done = WaitForWindow(kWizardTitle, [&](const CXwdImage& screen, const ScreenRect& window) {
    return ShowsArtworkAtLeft(screen, window) && WizardButtons(screen, window).size() == kWizardButtonCount;
  }, 40s);
  ASSERT_TRUE(done) << "no drawn done page";
  SaveShot(done->screen, wizard, "wizard-servo-done-page");
  m_x->Click(Centred(WizardButtons(done->screen, wizard)[kNextOrFinish]));
  const std::optional<int> status = m_wizard->WaitForExit(10s);
  ASSERT_TRUE(status.has_value()) << "Finish did not end the program";
  EXPECT_EQ(*status, 0);
  // The drive took the whole project: its application is the catalog's now.
  ExpectUpToDate("ZQ3351-9F", "1.30");
}

// A drive that refuses a command of the sequence: the done page says the update failed and
// shows the download log at once, in a box under the result.
TEST_F(WizardOnScreen, AFailedServoDownloadShowsItsLogOnTheDonePage) {
  PlugIn({"--device", "servo:application=100,fail=27:5"});
  auto start = StartWithTheServoTrainer(true);
  ASSERT_TRUE(start);
  const ScreenRect wizard = start->window;
  m_x->Click(Centred(WizardButtons(start->screen, wizard)[kNextOrFinish]));
  auto flash = WaitForWindow(kWizardTitle, [](const CXwdImage& screen, const ScreenRect& window) {
    return !ShowsArtworkAtLeft(screen, window) && WizardButtons(screen, window).size() == kWizardButtonCount;
  });
  ASSERT_TRUE(flash) << "no drawn flash page";
  m_x->Click(Centred(WizardButtons(flash->screen, wizard)[kNextOrFinish]));
  auto done = WaitForWindow(kWizardTitle, [&](const CXwdImage& screen, const ScreenRect& window) {
    return ShowsArtworkAtLeft(screen, window) && WizardButtons(screen, window).size() == kWizardButtonCount;
  }, 40s);
  ASSERT_TRUE(done) << "no drawn done page";
  SaveShot(done->screen, wizard, "wizard-servo-done-page-failed");
  // Right of the artwork, under the result and its heading: the log's box, much taller than a
  // line of text, with the log's one line in it.
  const ScreenRect column{wizard.x + wizard.width * 7 / 20, wizard.y, wizard.width * 3 / 5, wizard.height * 3 / 4};
  const auto bands = InkBands(done->screen, column, kWhite);
  const auto box = std::max_element(bands.begin(), bands.end(),
                                    [](const auto& a, const auto& b) { return a.second < b.second; });
  ASSERT_NE(box, bands.end());
  EXPECT_GT(box->second, wizard.height / 4);
  const ScreenRect inside{column.x + column.width / 10, box->first + 4, column.width * 4 / 5, box->second - 8};
  EXPECT_EQ(InkBands(done->screen, inside, kWhite).size(), 1u);
  m_x->Click(Centred(WizardButtons(done->screen, wizard)[kNextOrFinish]));
  const std::optional<int> status = m_wizard->WaitForExit(10s);
  ASSERT_TRUE(status.has_value()) << "Finish did not end the program";
  EXPECT_EQ(*status, 0);
}

// The servo trainer set to be reached through a remote device server that does not answer:
// Next brings up the "Server Login" dialog over the wizard, with the server's address; Escape
// is its "Exit Program", which ends the program.
TEST_F(WizardOnScreen, AServoTrainerBehindAnAbsentServerAsksForTheServer) {
  std::filesystem::create_directories(m_folder / "config/Tavrix");
  std::ofstream(m_folder / "config/Tavrix/Device Manager.ini")
      << "[ZQ3351-9F]\nAddress=127.0.0.1\nPort=1\nName=SERVO-7\nEnabled=1\n";
  auto start = StartWithTheServoTrainer(false);
  ASSERT_TRUE(start);
  const ScreenRect wizard = start->window;
  m_x->Click(Centred(WizardButtons(start->screen, wizard)[kNextOrFinish]));
  auto dialog = WaitForWindow(kServerLoginTitle);
  ASSERT_TRUE(dialog) << "no drawn \"" << kServerLoginTitle << "\" dialog";
  EXPECT_TRUE(wizard.Contains(dialog->window));
  SaveShot(dialog->screen, dialog->window, "server-login-dialog");
  SaveShot(dialog->screen, wizard, "server-login-dialog-over-wizard");

  m_x->Key("Escape");
  const std::optional<int> status = m_wizard->WaitForExit(10s);
  ASSERT_TRUE(status.has_value()) << "\"Exit Program\" did not end the program";
  EXPECT_EQ(*status, 0);
}

}  // namespace

// The demo catalog's network unit (above the servo trainer at its end): Next brings up the "Connect" dialog over the
// wizard, with the preset address and without "Configuration...". Escape cancels it, the
// updater's Connect fails, and the wizard stays on its start page.
TEST_F(WizardOnScreen, ANetworkUnitIsChosenInTheConnectDialog) {
  StartWizard({"/lang", std::to_string(LANG_ENGLISH)});
  auto start = WaitForWindow(kWizardTitle, [](const CXwdImage& screen, const ScreenRect& wizard) {
    return ShowsArtworkAtLeft(screen, wizard) && WizardButtons(screen, wizard).size() == kWizardButtonCount;
  });
  ASSERT_TRUE(start) << "no drawn start page";
  const ScreenRect wizard = start->window;
  m_x->Key("End Up");  // the device list has the focus: the ZT7720-4M, above the servo trainer at its end
  m_x->Click(Centred(WizardButtons(start->screen, wizard)[kNextOrFinish]));

  auto dialog = WaitForWindow(kConnectTitle);
  ASSERT_TRUE(dialog) << "no drawn \"" << kConnectTitle << "\" dialog";
  SaveShot(dialog->screen, dialog->window, "connect-dialog");
  SaveShot(dialog->screen, wizard, "connect-dialog-over-wizard");

  m_x->Key("Escape");
  ASSERT_TRUE(WindowGone(kConnectTitle)) << "Escape left the dialog open";
  auto again = WaitForWindow(kWizardTitle);
  ASSERT_TRUE(again) << "the start page did not come back";
  m_x->Click(Centred(WizardButtons(again->screen, wizard).back()));  // Cancel
  const std::optional<int> status = m_wizard->WaitForExit(10s);
  ASSERT_TRUE(status.has_value()) << "Cancel did not end the program";
  EXPECT_EQ(*status, 0);
}

// The wizard in a network namespace of its own, a simulated ZT7720-4M unit in another, a veth
// pair between them: "Find Devices" in the "Connect" dialog lists the unit. Nothing of the
// search leaves the two namespaces.
TEST_F(WizardOnScreen, TheConnectDialogFindsAUnitOnTheNetwork) {
  CNetNamespace pc("xvfb-pc");
  CNetNamespace unit("xvfb-unit");
  if (!pc.Failure().empty()) GTEST_SKIP() << pc.Failure();
  if (!pc.Link(unit, "pc0", "10.74.1.1/24", "unit0", "10.74.1.2/24")) GTEST_SKIP() << pc.Failure();
  m_devsim = std::make_unique<CChildProcess>(
      "ip", std::vector<std::string>{"netns", "exec", unit.Name(), std::string(TAVRIX_BIN_DIR) + "/tavrix-devsim",
                                     "--net-unit", "zt7720:type=7721,address=10.74.1.2,port=502,discovery,name=Bench 4M"},
      Environment());
  ASSERT_TRUE(m_devsim->ReadLine(10s).has_value()) << "tavrix-devsim did not start";
  m_wizard = std::make_unique<CChildProcess>(
      "ip", std::vector<std::string>{"netns", "exec", pc.Name(), std::string(TAVRIX_BIN_DIR) + "/tavrix-update", "/lang",
                                     std::to_string(LANG_ENGLISH)},
      Environment());
  ASSERT_TRUE(m_wizard->Started());

  auto start = WaitForWindow(kWizardTitle, [](const CXwdImage& screen, const ScreenRect& wizard) {
    return ShowsArtworkAtLeft(screen, wizard) && WizardButtons(screen, wizard).size() == kWizardButtonCount;
  });
  ASSERT_TRUE(start) << "no drawn start page";
  const ScreenRect wizard = start->window;
  m_x->Key("End Up");  // the ZT7720-4M
  m_x->Click(Centred(WizardButtons(start->screen, wizard)[kNextOrFinish]));
  auto empty = WaitForWindow(kConnectTitle);
  ASSERT_TRUE(empty) << "no drawn \"" << kConnectTitle << "\" dialog";

  m_x->Key("alt+f");  // Find Devices
  // The list is filled, and the buttons enabled again, in one step once the search is over (a
  // second for the one interface). While it runs only the buttons change; the list's text
  // shows the end. The list takes the upper left of the dialog.
  auto found = WaitForWindow(kConnectTitle, [&](const CXwdImage& screen, const ScreenRect& window) {
    const ScreenRect list{window.x + window.width / 20, window.y + window.height / 8, window.width / 2,
                          window.height / 2};
    return empty->screen.CountDifferences(screen, list) > 50;
  });
  ASSERT_TRUE(found) << "the search did not change the dialog";
  SaveShot(found->screen, found->window, "connect-dialog-found");

  m_x->Key("Escape");
  ASSERT_TRUE(WindowGone(kConnectTitle)) << "Escape left the dialog open";
  auto again = WaitForWindow(kWizardTitle);
  ASSERT_TRUE(again);
  m_x->Click(Centred(WizardButtons(again->screen, wizard).back()));  // Cancel
  const std::optional<int> status = m_wizard->WaitForExit(10s);
  ASSERT_TRUE(status.has_value()) << "Cancel did not end the program";
  EXPECT_EQ(*status, 0);
}

namespace {

// The pixels of a strong colour inside `rect`, and the first row that has one: the filled part
// of a progress bar on an otherwise white and grey page, and where the bar is.
struct Coloured {
  std::size_t count = 0;
  int top = -1;
};
Coloured FindColoured(const CXwdImage& screen, const ScreenRect& rect) {
  Coloured found;
  for (int y = rect.y; y < rect.y + rect.height; ++y) {
    for (int x = rect.x; x < rect.x + rect.width; ++x) {
      const std::uint32_t rgb = screen.Pixel(x, y);
      const int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
      if (std::max({r, g, b}) - std::min({r, g, b}) <= 60) continue;
      ++found.count;
      if (found.top < 0) found.top = y;
    }
  }
  return found;
}

}  // namespace

// The ATMU device is programmed page by page: while it is, the progress page's bar fills step
// by step, and stays where it is (a status line that grew with a page's name moved it).
TEST_F(WizardOnScreen, TheAtmuBarFillsPageByPage) {
  m_waitScale = "1";  // the device's own waits per page, so that the bar can be watched
  // The ATMU is the only device attached: the wizard selects its entry by itself.
  PlugIn({"--device", "atmu:firmware=100"});
  const std::optional<Seen> start = StartPage();
  ASSERT_TRUE(start);
  ASSERT_TRUE(ConfirmProgramming(*start));
  const ScreenRect wizard = start->window;

  // Every frame until the done page: how much of the page above the buttons is filled bar.
  const ScreenRect page{wizard.x + 4, wizard.y, wizard.width - 8, wizard.height * 3 / 4};
  // The progress page's left margin is white; a read while the window is repainted for the
  // done page can show part of the artwork there, below the progress page's status line.
  const ScreenRect margin{wizard.x + 4, wizard.y + 10, 20, page.height - 10};
  std::vector<std::size_t> filled;
  std::set<int> barTops;
  std::optional<CXwdImage> halfway;
  const bool done = WaitFor([&] {
    std::optional<CXwdImage> screen = m_x->Screen();
    if (!screen) return false;
    if (ShowsArtworkAtLeft(*screen, wizard)) return true;
    if (screen->CountOtherThan(margin, kWhite) > 0) return false;  // the done page coming
    if (!m_x->FindWindows(kAnimationTitle).empty()) return false;  // not the page alone
    const Coloured bar = FindColoured(*screen, page);
    const std::size_t now = bar.count;
    if (filled.empty() || now != filled.back()) filled.push_back(now);
    if (now > 0) barTops.insert(bar.top);
    if (!halfway && now > 0) halfway = screen;
    return false;
  }, 60s);
  ASSERT_TRUE(done) << "no done page within a minute";
  if (halfway) SaveShot(*halfway, wizard, "wizard-atmu-progress-page");
  // The bar grew through several steps, never shrinking, from empty or nearly so.
  ASSERT_GE(filled.size(), 4u) << "the bar did not move";
  EXPECT_TRUE(std::is_sorted(filled.begin(), filled.end()));
  EXPECT_LT(filled.front() * 4, filled.back());
  // A status line that grows moves the bar by a line's height; a pixel comes from the filled
  // part's rounded ends, which blend its first row into the frame while the part is short.
  ASSERT_FALSE(barTops.empty());
  EXPECT_LE(*barTops.rbegin() - *barTops.begin(), 2) << "the bar moved up or down while it filled";

  auto finished = WaitForWindow(kWizardTitle);
  ASSERT_TRUE(finished);
  m_x->Click(Centred(WizardButtons(finished->screen, wizard)[kNextOrFinish]));
  const std::optional<int> status = m_wizard->WaitForExit(10s);
  ASSERT_TRUE(status.has_value()) << "Finish did not end the program";
  EXPECT_EQ(*status, 0);
  const std::string history = History();
  EXPECT_NE(history.find("\"result\":\"programmed\""), std::string::npos) << history;
}

// SIGTERM while the ATMU device is programmed with its own waits: the wizard does not die in
// mid-page. It stops at the next page boundary, says that the device did not get all of its
// firmware, records the failed update with that cause, and ends with 143 within a bound.
TEST_F(WizardOnScreen, SigtermWhileProgrammingStopsAtASafePointAndSaysSo) {
  m_waitScale = "1";
  m_readErrors = true;
  const std::string record = (m_folder.Path() / "atmu.record").string();
  PlugIn({"--device", "atmu:firmware=100,record=" + record});
  const std::optional<Seen> start = StartPage();
  ASSERT_TRUE(start);
  ASSERT_TRUE(ConfirmProgramming(*start));
  auto pages = [&record] {
    const std::string text = ReadWholeFile(record);
    std::size_t count = 0;
    for (std::size_t at = text.find("\npage "); at != std::string::npos; at = text.find("\npage ", at + 1)) ++count;
    return count;
  };
  ASSERT_TRUE(WaitFor([&] { return pages() >= 2; }, 30s)) << "the download did not begin: " << ReadWholeFile(record);

  const auto sent = std::chrono::steady_clock::now();
  m_wizard->Signal(SIGTERM);
  const std::optional<int> status = m_wizard->WaitForExit(15s);
  ASSERT_TRUE(status.has_value()) << "the wizard did not end within 15 s of SIGTERM";
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent);
  std::printf("SIGTERM to the end of the wizard: %lld ms\n", static_cast<long long>(took.count()));
  EXPECT_FALSE(m_wizard->EndedBySignal()) << "the wizard died of the signal";
  EXPECT_EQ(*status, 143);

  // The device saw its download end short of the whole image, between two pages.
  ASSERT_TRUE(WaitFor([&] { return ReadWholeFile(record).find("\nend ") != std::string::npos; }, 10s));
  const std::string kept = ReadWholeFile(record);
  EXPECT_TRUE(kept.ends_with("\nend incomplete\n")) << kept;
  const std::string output = WizardOutput();
  EXPECT_NE(output.find(English(23762)), std::string::npos) << output;
  EXPECT_NE(output.find(English(23760)), std::string::npos) << output;

  ExpectFailureRecorded(23760);
}

// A failed update's message box waits for the person. SIGTERM does not wait for it: the box is
// closed, its text goes to standard error, the failure is recorded and the wizard ends (143).
TEST_F(WizardOnScreen, SigtermWithAFailureBoxOpenEndsTheWizardWithTheCauseKept) {
  m_readErrors = true;
  ASSERT_TRUE(StartProgramming("2a:variant=3,firmware=307,refuse_ack=2", "QI-2A3"));
  // The box carries the program's title: two windows of that name.
  ASSERT_TRUE(WaitFor([&] { return m_x->FindWindows(kWizardTitle).size() == 2; }, 20s)) << "no message box";
  m_wizard->Signal(SIGTERM);
  const std::optional<int> status = m_wizard->WaitForExit(10s);
  ASSERT_TRUE(status.has_value()) << "the wizard did not end within 10 s of SIGTERM";
  EXPECT_FALSE(m_wizard->EndedBySignal()) << "the wizard died of the signal";
  EXPECT_EQ(*status, 143);
  const std::string output = WizardOutput();
  EXPECT_NE(output.find(English(20016)), std::string::npos) << output;
  ExpectFailureRecorded(20016);
}

// Outside programming a signal ends the wizard at once, with the status of its kind.
TEST_F(WizardOnScreen, ASignalOnTheStartPageEndsTheWizardAtOnce) {
  const struct {
    int signal;
    int status;
  } cases[] = {{SIGTERM, 143}, {SIGHUP, 143}, {SIGINT, 130}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signal);
    ASSERT_TRUE(StartPage());
    m_wizard->Signal(c.signal);
    const std::optional<int> status = m_wizard->WaitForExit(5s);
    ASSERT_TRUE(status.has_value()) << "the wizard did not end within 5 s";
    EXPECT_FALSE(m_wizard->EndedBySignal()) << "the wizard died of the signal";
    EXPECT_EQ(*status, c.status);
    ASSERT_TRUE(WindowGone(kWizardTitle, 5s));
  }
}

// A 2A interface (variant 3) that refuses a block of its download: the person is told why in a
// message box of its own over the wizard, with the error sign, before the done page says that
// the re-programming failed.
TEST_F(WizardOnScreen, AFailedUpdateSaysWhyOnScreen) {
  const std::optional<ScreenRect> started = StartProgramming("2a:variant=3,firmware=307,refuse_ack=2", "QI-2A3");
  ASSERT_TRUE(started);
  const ScreenRect wizard = *started;

  // The message box carries the program's title, as the wizard does: two windows of that name.
  std::optional<CXwdImage> shown;
  ScreenRect box;
  ASSERT_TRUE(WaitFor([&] {
    const std::vector<ScreenRect> windows = m_x->FindWindows(kWizardTitle);
    if (windows.size() != 2) return false;
    box = windows[0].width < windows[1].width ? windows[0] : windows[1];
    shown = m_x->Screen();
    return shown && shown->CountColours(box) >= 16;
  }, 30s)) << "no message box with the cause";
  // The error sign is red; the text beside it is at least one line.
  const ScreenRect sign{box.x, box.y, box.width / 4, box.height * 2 / 3};
  std::size_t red = 0;
  for (int y = sign.y; y < sign.y + sign.height; ++y) {
    for (int x = sign.x; x < sign.x + sign.width; ++x) {
      const std::uint32_t rgb = shown->Pixel(x, y);
      if (((rgb >> 16) & 0xFF) > 160 && ((rgb >> 8) & 0xFF) < 100 && (rgb & 0xFF) < 100) ++red;
    }
  }
  EXPECT_GT(red, 50u) << "no error sign in the message box";
  const ScreenRect text{box.x + box.width / 4, box.y + 4, box.width * 3 / 4 - 8, box.height * 2 / 3};
  EXPECT_GE(InkBands(*shown, text, shown->Pixel(text.x + 2, text.y + 2)).size(), 1u);
  SaveShot(*shown, wizard, "wizard-failure-cause");
  m_x->Key("Return");  // OK

  auto done = WaitForWindow(kWizardTitle, [&](const CXwdImage& screen, const ScreenRect& window) {
    return ShowsArtworkAtLeft(screen, window) && WizardButtons(screen, window).size() == kWizardButtonCount;
  });
  ASSERT_TRUE(done) << "no drawn done page";
  SaveShot(done->screen, wizard, "wizard-4-done-page-failed");
  m_x->Click(Centred(WizardButtons(done->screen, wizard)[kNextOrFinish]));
  const std::optional<int> status = m_wizard->WaitForExit(10s);
  ASSERT_TRUE(status.has_value()) << "Finish did not end the program";
  EXPECT_EQ(*status, 0);
}

namespace {

// The start page's mark of an attached device: a green dot before its line.
bool IsMarkGreen(std::uint32_t rgb) {
  const int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  return g > 120 && g > r + 50 && g > b + 50;
}

// The runs of rows of `rect` that hold a mark's green, top to bottom: one per marked line.
std::vector<std::pair<int, int>> MarkBands(const CXwdImage& screen, const ScreenRect& rect) {
  std::vector<std::pair<int, int>> bands;
  bool inBand = false;
  for (int y = rect.y; y < rect.y + rect.height; ++y) {
    bool green = false;
    for (int x = rect.x; x < rect.x + rect.width && !green; ++x) green = IsMarkGreen(screen.Pixel(x, y));
    if (green && !inBand) bands.push_back({y, 0});
    if (green) ++bands.back().second;
    inBand = green;
  }
  return bands;
}

// The smallest rectangle that holds every pixel in which `a` and `b` differ inside `rect`.
ScreenRect DifferenceBounds(const CXwdImage& a, const CXwdImage& b, const ScreenRect& rect) {
  int left = rect.x + rect.width, top = rect.y + rect.height, right = rect.x - 1, bottom = rect.y - 1;
  for (int y = rect.y; y < rect.y + rect.height; ++y) {
    for (int x = rect.x; x < rect.x + rect.width; ++x) {
      if (a.Pixel(x, y) == b.Pixel(x, y)) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  return {left, top, right - left + 1, bottom - top + 1};
}

}  // namespace

// The start page marks the line of a device plugged in while it is shown, and takes the mark
// away when the device goes: a green dot before the line, and nothing else on the page moves.
TEST_F(WizardOnScreen, TheStartPageMarksADevicePluggedIn) {
  const std::optional<Seen> empty = StartPage();
  ASSERT_TRUE(empty);
  const ScreenRect wizard = empty->window;
  // Right of the artwork, above the buttons: the texts and the list.
  const ScreenRect column{wizard.x + wizard.width * 7 / 20, wizard.y, wizard.width * 3 / 5, wizard.height * 3 / 4};
  EXPECT_TRUE(MarkBands(empty->screen, column).empty()) << "a mark with no device on the bus";

  PlugIn({"--device", "atmu"});
  auto marked = WaitForWindow(kWizardTitle, [&](const CXwdImage& screen, const ScreenRect&) {
    return !MarkBands(screen, column).empty();
  });
  ASSERT_TRUE(marked) << "no mark once the ATMU was plugged in";
  SaveShot(marked->screen, wizard, "wizard-start-page-marked");
  const auto bands = MarkBands(marked->screen, column);
  ASSERT_EQ(bands.size(), 1u) << "one device, one marked line";
  EXPECT_GE(bands[0].second, 5) << "the mark is a dot, not a stray pixel";
  // Only the dot was drawn: the texts, the list's lines and its selection stay as they were.
  const ScreenRect changed = DifferenceBounds(empty->screen, marked->screen, wizard);
  EXPECT_LE(changed.width, 2 * bands[0].second) << "more changed than the mark";
  EXPECT_LE(changed.height, bands[0].second + 2) << "more changed than the mark";

  m_devsim->Stop();
  auto unmarked = WaitForWindow(kWizardTitle, [&](const CXwdImage& screen, const ScreenRect&) {
    return MarkBands(screen, column).empty();
  });
  ASSERT_TRUE(unmarked) << "the mark stayed after the ATMU was unplugged";
  EXPECT_EQ(empty->screen.CountDifferences(unmarked->screen, wizard), 0u);

  m_x->Click(Centred(WizardButtons(unmarked->screen, wizard).back()));  // Cancel
  const std::optional<int> status = m_wizard->WaitForExit(10s);
  ASSERT_TRUE(status.has_value()) << "Cancel did not end the program";
  EXPECT_EQ(*status, 0);
}
