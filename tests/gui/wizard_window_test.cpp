// The wizard end to end in one process: the real start-up and sheet logic on a worker thread,
// the Qt window on the test's (GUI) thread, a scripted updater behind a catalog of our own.

#include "gui/wizard_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "gui/about_box.h"
#include "gui/animation_window.h"
#include "gui/dialog_units.h"
#include "gui/language_dialog_widget.h"
#include "gui/log_viewer.h"
#include "gui/page_controls.h"
#include "gui/qt_user_interface.h"
#include "gui/qt_wizard_sheet_view.h"
#include "gui/wizard_page_widget.h"
#include "gui_test_support.h"
#include "platform/clock.h"
#include "platform/module_path.h"
#include "platform/emulated_usb_bus.h"
#include "platform/settings_store.h"
#include "platform/usb_device_watch.h"
#include "sim/demo_firmware.h"
#include "sim/devices/2a/sim_2a.h"
#include "sim/sim_bus.h"
#include "sim/sim_device_registry.h"
#include "updater/flash_progress.h"
#include "updater/updater.h"
#include "updater/device_catalog.h"
#include "updater/updater_registry.h"
#include "platform/text_format.h"
#include "platform/anim_wait.h"
#include "wizard/flash_page.h"
#include "wizard/language_dialog.h"
#include "wizard/the_app.h"
#include "wizard/wizard_state.h"

namespace {

using gui_test::CCheckpoints;
using gui_test::WaitUntil;

constexpr char kUpdaterClass[] = "CScreenshotUpdater";
constexpr char kLongPath[] =
    "/home/lab/tavrix/firmware/interface-boxes/2a/releases/2024-11/tavrix-2a-firmware-v336.hex";

// What the scripted updater does; the test sets it before the wizard runs.
struct UpdaterScript {
  std::uint16_t deviceFirmware = 120;
  std::function<bool(IFlashProgress&)> update = [](IFlashProgress&) { return true; };
  std::string log;
};

class CScriptedUpdater : public CUpdater {
 public:
  explicit CScriptedUpdater(UpdaterScript& script) : m_script(script) {}
  bool Connect() override { return true; }
  // Met again after a successful update, the device reports what it was given.
  bool ConnectAgain() override { return m_metAgain = true; }
  std::uint16_t GetFirmwareVersion() override { return m_metAgain ? m_given.FirmwareVersion : m_script.deviceFirmware; }
  std::uint16_t GetApplicationVersion() override { return m_metAgain ? m_given.ApplicationVersion : 0; }
  bool Update(const DeviceRecord& record, IFlashProgress* progress) override {
    m_given = record;
    return m_script.update(*progress);
  }
  std::string DownloadLog() const override { return m_script.log; }

 private:
  UpdaterScript& m_script;
  DeviceRecord m_given;
  bool m_metAgain = false;
};

class WizardWindowTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    gui_test::Application();
    ResetWizardState();
    m_folder = std::filesystem::temp_directory_path() /
               ("tavrix-gui-test-" + std::to_string(::getpid()) + "-" +
                std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    std::filesystem::create_directories(m_folder / "settings");
    SetModuleFileName((m_folder / "tavrix-update").string());
    std::ofstream(m_folder / "tavrix-update.config") << CatalogXml();
    UpdaterRegistry::Instance().Register(kUpdaterClass,
                                         [this] { return std::make_unique<CScriptedUpdater>(m_script); });
    SetUserInterface(&m_ui);
    m_window = std::make_unique<CWizardWindow>();
    m_ui.SetMainWindow(m_window.get());
    m_view = std::make_unique<CQtWizardSheetView>(*m_window);
  }

  void TearDown() override {
    m_checkpoints.OpenAll();
    if (m_core.joinable()) {
      // Whatever state a failed test left behind: answer open dialogs, then end the wizard.
      WaitUntil([this] {
        DismissDialogs();
        if (!m_coreDone) m_view->PushAction({WizardAction::Close, m_window->CurrentPageId()});
        return m_coreDone.load();
      });
      m_core.join();
    }
    m_view.reset();
    m_window.reset();
    SetUserInterface(nullptr);
    UpdaterRegistry::Instance().Unregister(kUpdaterClass);
    ResetWizardState();
    SetUiLanguage(LANG_ENGLISH);
    SetModuleFileName({});
    std::filesystem::remove_all(m_folder);
  }

  static std::string CatalogXml() {
    const std::pair<const char*, const char*> devices[] = {
        {"USB-2A", "Interface box 2A"},    {"USB-1A", "Interface box 1A"},
        {"USB-1Z", "Interface box 1Z"},    {"MK-USB", "Measurement interface MK"},
        {"AT-100", "Automotive trainer"},  {"DSP-28", "DSP control unit"},
        {"NET-TP", "Network terminal"},    {"SERVO-T", "Servo trainer"},
    };
    std::string xml = "<Config><Devices>";
    for (const auto& [id, name] : devices) {
      xml += std::string("<Device Id=\"") + id + "\" RTC=\"" + kUpdaterClass +
             "\" USBPID=\"0x2A01\"><Name>" + name +
             "</Name><Firmware><Version>336</Version><File>firmware/image.hex</File></Firmware></Device>";
    }
    return xml + "</Devices></Config>";
  }

  void Start(std::vector<std::string> args) {
    m_core = std::thread([this, args = std::move(args)] {
      CTheApp app(*m_view, args, (m_folder / "settings").string());
      app.InitInstance();
      m_coreDone = true;
      CGuiThread::Post([] {});
    });
  }

  std::vector<std::string> LanguageArgs() const { return {"/lang", std::to_string(GetParam())}; }

  // Starts the wizard in the test's language and goes through the start and flash pages, so
  // that the update runs.
  void StartAndConfirm() {
    Start(LanguageArgs());
    ASSERT_TRUE(WaitUntil([&] { return OnPage(kStartPageId) && Button(CWizardWindow::kNextButton)->isEnabled(); }));
    Click(CWizardWindow::kNextButton);
    ASSERT_TRUE(WaitUntil([&] { return OnPage(kFlashPageId) && Button(CWizardWindow::kNextButton)->isEnabled(); }));
    Click(CWizardWindow::kNextButton);
  }

  QString Shot(const char* name) const {
    return QString::fromLatin1(name) + QLatin1Char('_') + QString::fromLatin1(gui_test::LanguageSuffix(GetParam()));
  }

  CWizardPageWidget* Page(int pageId) const { return m_window->Page(pageId); }

  bool OnPage(int pageId) const {
    return m_window->isVisible() && m_window->CurrentPageId() == pageId && Page(pageId) != nullptr;
  }

  QPushButton* Button(int id) const { return m_window->Button(id); }

  void Click(int buttonId) { QTest::mouseClick(Button(buttonId), Qt::LeftButton); }

  static QMessageBox* OpenMessageBox() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) return box;
    }
    return nullptr;
  }

  void DismissDialogs() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QDialog*>(widget);
      if (dialog == nullptr || dialog == m_window.get() || !dialog->isVisible()) continue;
      if (qobject_cast<CAnimationWindow*>(dialog) != nullptr) continue;
      dialog->done(IDCANCEL);
    }
  }

  // The visible buttons and whether each is enabled: "Back-", "Next+", ...
  std::string ButtonState() const {
    std::string state;
    const std::pair<int, const char*> buttons[] = {{CWizardWindow::kBackButton, "Back"},
                                                   {CWizardWindow::kNextButton, "Next"},
                                                   {CWizardWindow::kFinishButton, "Finish"},
                                                   {CWizardWindow::kCancelButton, "Cancel"}};
    for (const auto& [id, name] : buttons) {
      QPushButton* button = Button(id);
      if (!button->isVisible()) continue;
      if (!state.empty()) state += ' ';
      state += std::string(name) + (button->isEnabled() ? "+" : "-");
    }
    return state;
  }

  void ExpectTemplateTexts(int pageId) const {
    const DialogTemplate* dialog = FindDialogTemplate(pageId);
    ASSERT_NE(dialog, nullptr);
    for (const DialogControl& control : dialog->controls) {
      if (control.stringId == 0 || control.id == 0) continue;
      EXPECT_EQ(Page(pageId)->ControlText(control.id).toStdString(), LoadResString(control.stringId))
          << "page " << pageId << " control " << control.id;
    }
  }

  // Every word-wrapped label of the page shows its whole text: its height holds the wrapped
  // lines at its width.
  void ExpectNothingClipped(QWidget* root) const {
    QApplication::processEvents();  // the layouts follow the latest texts
    for (QLabel* label : root->findChildren<QLabel*>()) {
      if (!label->isVisible() || label->text().isEmpty() || qobject_cast<CPathLabel*>(label)) continue;
      if (label->wordWrap()) {
        EXPECT_GE(label->height(), label->heightForWidth(label->width()))
            << label->text().toStdString();
      } else {
        EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
      }
    }
    for (QPushButton* button : root->findChildren<QPushButton*>()) {
      if (!button->isVisible()) continue;
      EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
    }
  }

  std::filesystem::path m_folder;
  UpdaterScript m_script;
  CCheckpoints m_checkpoints;
  CVirtualClock m_clock;
  CClockScope m_clockScope{m_clock};
  CQtUserInterface m_ui;
  std::unique_ptr<CWizardWindow> m_window;
  std::unique_ptr<CQtWizardSheetView> m_view;
  std::thread m_core;
  std::atomic<bool> m_coreDone{false};
};

// The whole road: start page, flash page, the progress page with its bar, detail line, the
// animation window and a question from the updater, and the done page; a picture of each.
TEST_P(WizardWindowTest, RunsTheWholeRoad) {
  std::atomic<int> answer{-1};
  m_script.update = [&](IFlashProgress& progress) {
    progress.SetStatusText("%s", LoadResString(30501).c_str());
    m_checkpoints.Reach(1);
    progress.SetRange(0, 100);
    progress.SetPos(42);
    progress.SetStatusText("%s", LoadResString(30502).c_str());
    progress.SetDetailText(kLongPath);
    m_checkpoints.Reach(2);
    {
      CAnimWait animation;
      animation.SetText(30502);
      m_checkpoints.Reach(3);
    }
    answer = UserInterface().MessageBox(LoadResString(20007), MB_OKCANCEL | MB_ICONWARNING);
    m_checkpoints.Reach(4);
    return true;
  };
  Start(LanguageArgs());

  // Start page: the catalog's lines, the first selected, Next only. The page's buttons are
  // posted by the core after the page is shown: waited for as a whole, not by Next alone.
  ASSERT_TRUE(WaitUntil([&] {
    return OnPage(kStartPageId) && m_window->isVisible() &&
           static_cast<CTabStopListBox*>(Page(kStartPageId)->Control(401))->count() == 8 &&
           ButtonState() == "Back- Next+ Cancel+";
  }));
  EXPECT_EQ(m_window->windowTitle().toStdString(), ApplicationName());
  ExpectTemplateTexts(kStartPageId);
  auto* list = static_cast<CTabStopListBox*>(Page(kStartPageId)->Control(401));
  EXPECT_EQ(list->currentRow(), 0);
  EXPECT_EQ(list->item(3)->text().toStdString(), "MK-USB\tMeasurement interface MK");
  EXPECT_EQ(ButtonState(), "Back- Next+ Cancel+");
  // The buttons speak the language chosen at start-up, like the pages.
  for (int id : {CWizardWindow::kBackButton, CWizardWindow::kNextButton, CWizardWindow::kFinishButton,
                 CWizardWindow::kCancelButton}) {
    EXPECT_EQ(Button(id)->text().toStdString(), LoadResString(id));
  }
  EXPECT_EQ(m_window->InfoButton()->text().toStdString(), LoadResString(101));
  EXPECT_TRUE(m_window->InfoButton()->isVisible());
  EXPECT_TRUE(Page(kStartPageId)->Picture(kStartBitmapId)->isVisible());
  QLabel* title = static_cast<QLabel*>(Page(kStartPageId)->Control(101));
  EXPECT_TRUE(title->font().bold());
  EXPECT_EQ(title->font().pointSize(), 12);
  ExpectNothingClipped(m_window.get());
  // The page is as large as its template says, in every language: the texts fit it.
  EXPECT_EQ(Page(kStartPageId)->size(), Page(kStartPageId)->TemplateSize());
  gui_test::SaveScreenshot(*m_window, Shot("wizard_1_start_page"));

  // The person picks the second device: the logic hears of it.
  list->setCurrentRow(1);
  Click(CWizardWindow::kNextButton);
  ASSERT_TRUE(WaitUntil([&] { return OnPage(kFlashPageId) && Button(CWizardWindow::kNextButton)->isEnabled(); }));
  EXPECT_EQ(TheWizardState().Catalog.Record().Id, "USB-1A");
  ExpectTemplateTexts(kFlashPageId);
  EXPECT_EQ(ButtonState(), "Back- Next+ Cancel+");
  EXPECT_NE(Page(kFlashPageId)->Picture(kFlashIconId), nullptr);
  ExpectNothingClipped(m_window.get());
  gui_test::SaveScreenshot(*m_window, Shot("wizard_2_flash_page"));

  // Progress page: every button off, the bar hidden until SetRange.
  Click(CWizardWindow::kNextButton);
  ASSERT_TRUE(WaitUntil([&] { return m_checkpoints.Reached(1) && OnPage(kProgressPageId); }));
  QApplication::processEvents();
  auto* bar = static_cast<QProgressBar*>(Page(kProgressPageId)->Control(551));
  EXPECT_TRUE(bar->isHidden());
  EXPECT_EQ(ButtonState(), "Back- Next- Cancel-");
  EXPECT_EQ(Page(kProgressPageId)->ControlText(102).toStdString(), LoadResString(30501));
  EXPECT_TRUE(Page(kProgressPageId)->Control(104)->isHidden());
  EXPECT_TRUE(Page(kProgressPageId)->Control(556)->isHidden());
  // Escape and the close box would be Cancel, which is off: nothing reaches the logic, and
  // the wizard still reaches the done page below.
  QTest::keyClick(m_window.get(), Qt::Key_Escape);
  m_window->close();
  EXPECT_TRUE(m_window->isVisible());
  EXPECT_FALSE(m_view->PollAction().has_value());
  m_checkpoints.Open(1);

  ASSERT_TRUE(WaitUntil([&] { return m_checkpoints.Reached(2); }));
  QApplication::processEvents();
  EXPECT_FALSE(bar->isHidden());
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_EQ(bar->value(), 42);
  auto* detail = static_cast<CPathLabel*>(Page(kProgressPageId)->Control(103));
  EXPECT_EQ(detail->FullText().toStdString(), kLongPath);
  EXPECT_TRUE(detail->text().endsWith(QStringLiteral("/tavrix-2a-firmware-v336.hex")));
  EXPECT_TRUE(detail->text().startsWith(QStringLiteral("/home/")));
  EXPECT_LE(detail->fontMetrics().horizontalAdvance(detail->text()), detail->contentsRect().width());
  gui_test::SaveScreenshot(*m_window, Shot("wizard_3_progress_page"));
  m_checkpoints.Open(2);

  // The animation window: up, the wizard disabled, Enter and Escape leave it open.
  ASSERT_TRUE(WaitUntil([&] { return m_checkpoints.Reached(3); }));
  QApplication::processEvents();
  CAnimationWindow* animation = m_ui.AnimationWindow();
  ASSERT_NE(animation, nullptr);
  EXPECT_TRUE(animation->isVisible());
  EXPECT_FALSE(m_window->isEnabled());
  EXPECT_EQ(animation->windowTitle().toStdString(), LoadResString(30502000));
  EXPECT_EQ(animation->Message()->text().toStdString(), LoadResString(30502900));
  EXPECT_EQ(animation->StatusLine()->text().toStdString(), LoadResString(30502));
  EXPECT_FALSE(animation->windowFlags().testFlag(Qt::WindowCloseButtonHint));
  EXPECT_EQ(animation->size(), CDialogUnits(animation->font()).Size(186, 82));
  EXPECT_TRUE(animation->Animation()->IsRunning());
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
    QTest::keyClick(animation, key);
    EXPECT_TRUE(animation->isVisible()) << key;
  }
  animation->close();
  EXPECT_TRUE(animation->isVisible());
  ExpectNothingClipped(animation);
  gui_test::SaveScreenshot(*animation, Shot("animation_window"));
  m_checkpoints.Open(3);

  // A question from the updater blocks the worker until the person answers.
  ASSERT_TRUE(WaitUntil([&] { return OpenMessageBox() != nullptr; }));
  EXPECT_EQ(m_ui.AnimationWindow(), nullptr);
  EXPECT_TRUE(m_window->isEnabled());
  QMessageBox* box = OpenMessageBox();
  EXPECT_EQ(box->windowTitle().toStdString(), ApplicationName());
  EXPECT_EQ(box->text().toStdString(), LoadResString(20007));
  EXPECT_EQ(box->icon(), QMessageBox::Warning);
  EXPECT_EQ(box->buttons().size(), 2);
  QApplication::processEvents();
  EXPECT_EQ(answer.load(), -1);
  EXPECT_FALSE(m_checkpoints.Reached(4));
  gui_test::SaveScreenshot(*box, Shot("message_box"));
  QTest::keyClick(box, Qt::Key_Return);
  ASSERT_TRUE(WaitUntil([&] { return m_checkpoints.Reached(4); }));
  EXPECT_EQ(answer.load(), IDOK);
  m_checkpoints.Open(4);

  // Done page: Finish only, Cancel off for good, no log to show after success.
  ASSERT_TRUE(WaitUntil([&] { return OnPage(kDonePageId) && Button(CWizardWindow::kFinishButton)->isVisible(); }));
  QApplication::processEvents();
  ExpectTemplateTexts(kDonePageId);
  EXPECT_EQ(Page(kDonePageId)->ControlText(102).toStdString(), LoadResString(37));
  EXPECT_EQ(ButtonState(), "Back- Finish+ Cancel-");
  EXPECT_TRUE(Page(kDonePageId)->Control(105)->isHidden());
  ExpectNothingClipped(m_window.get());
  EXPECT_EQ(Page(kDonePageId)->size(), Page(kDonePageId)->TemplateSize());
  gui_test::SaveScreenshot(*m_window, Shot("wizard_4_done_page"));

  Click(CWizardWindow::kFinishButton);
  ASSERT_TRUE(WaitUntil([&] { return m_coreDone.load(); }));
}

// A failed update whose updater kept a log: the done page shows it at once, in a read-only box
// under the result, and the page keeps its size however long the log is.
TEST_P(WizardWindowTest, FailureShowsTheDownloadLog) {
  m_script.update = [](IFlashProgress& progress) {
    progress.SetMarquee();
    return false;
  };
  m_script.log =
      "Could not write Code Value 514/2 Value 1.\nCould not read CodeValue 514/1.\nCheck software modules failed.\n"
      "Check hardware modules failed.\nDownload aborted.";
  StartAndConfirm();
  ASSERT_TRUE(WaitUntil([&] {
    return OnPage(kDonePageId) && Page(kDonePageId)->LogBox()->isVisible() && ButtonState() == "Back- Finish+ Cancel-";
  }));
  EXPECT_EQ(Page(kDonePageId)->ControlText(102).toStdString(), LoadResString(38));
  // The marquee ran in the bar, which SetMarquee leaves hidden.
  auto* bar = static_cast<QProgressBar*>(Page(kProgressPageId)->Control(551));
  EXPECT_EQ(bar->maximum(), 0);
  EXPECT_TRUE(bar->isHidden());
  QPlainTextEdit* box = Page(kDonePageId)->LogBox();
  EXPECT_EQ(box->toPlainText().toStdString(), m_script.log);
  EXPECT_TRUE(box->isReadOnly());
  auto* heading = Page(kDonePageId)->findChild<QLabel*>(QStringLiteral("logHeading"));
  ASSERT_NE(heading, nullptr);
  EXPECT_TRUE(heading->isVisible());
  EXPECT_EQ(heading->text().toStdString(), LoadResString(41007));
  EXPECT_TRUE(Page(kDonePageId)->Control(105)->isHidden());  // nothing to open: it is on the page
  EXPECT_TRUE(Page(kDonePageId)->Control(900)->isVisible());
  EXPECT_EQ(ButtonState(), "Back- Finish+ Cancel-");
  ExpectNothingClipped(m_window.get());
  EXPECT_EQ(Page(kDonePageId)->size(), Page(kDonePageId)->TemplateSize());
  gui_test::SaveScreenshot(*m_window, Shot("wizard_done_failure"));

  Click(CWizardWindow::kFinishButton);
  ASSERT_TRUE(WaitUntil([&] { return m_coreDone.load(); }));
}

// After a success the log is offered: the "Show log" button opens it in the log viewer, which
// says the update completed.
TEST_P(WizardWindowTest, SuccessOffersTheDownloadLog) {
  m_script.log = "Check for standard application failed.\n";
  StartAndConfirm();
  ASSERT_TRUE(WaitUntil([&] { return OnPage(kDonePageId) && Page(kDonePageId)->Control(105)->isVisible(); }));
  EXPECT_EQ(Page(kDonePageId)->ControlText(102).toStdString(), LoadResString(37));
  EXPECT_TRUE(Page(kDonePageId)->LogBox()->isHidden());
  EXPECT_EQ(m_window->OfferedLog(kDonePageId).toStdString(), m_script.log);
  ExpectNothingClipped(m_window.get());
  gui_test::SaveScreenshot(*m_window, Shot("wizard_done_log_offered"));

  QTest::mouseClick(static_cast<QPushButton*>(Page(kDonePageId)->Control(105)), Qt::LeftButton);
  CLogViewer* viewer = m_window->findChild<CLogViewer*>();
  ASSERT_NE(viewer, nullptr);
  EXPECT_TRUE(viewer->isVisible());
  EXPECT_EQ(viewer->LogText()->toPlainText().toStdString(), m_script.log);
  std::vector<std::string> labels;
  for (QLabel* label : viewer->findChildren<QLabel*>()) labels.push_back(label->text().toStdString());
  EXPECT_EQ(labels, std::vector<std::string>{LoadResString(41008)});
  ExpectNothingClipped(viewer);
  gui_test::SaveScreenshot(*viewer, Shot("log_viewer"));
  viewer->reject();

  Click(CWizardWindow::kFinishButton);
  ASSERT_TRUE(WaitUntil([&] { return m_coreDone.load(); }));
}

// An application download names its project: "Project folder:" appears with the folder beside
// it (shortened in the middle when long) and the summary below, under the changing lines.
TEST_P(WizardWindowTest, ApplicationDownloadShowsItsProject) {
  const std::string folder = "/home/lab/tavrix/servo-trainer/projects/2024-11/positioning-exercise/Drive003";
  const std::string summary = "7 files to download (412 kByte)";
  m_script.update = [this, folder, summary](IFlashProgress& progress) {
    progress.SetRange(0, 8);
    progress.ShowProject(folder, summary);
    progress.SetStatusText("Transfering %s", "POSITION.BIN");
    progress.SetDetailText("\\");
    progress.SetPos(3);
    m_checkpoints.Reach(1);
    return true;
  };
  CWizardPageWidget* page = nullptr;
  StartAndConfirm();
  ASSERT_TRUE(WaitUntil([&] { return m_checkpoints.Reached(1) && (page = Page(kProgressPageId)) != nullptr; }));
  QApplication::processEvents();
  for (int control : {104, 105, 106}) EXPECT_TRUE(page->Control(control)->isVisible()) << control;
  EXPECT_TRUE(page->Control(556)->isHidden());
  EXPECT_EQ(page->ControlText(104).toStdString(), LoadResString(1002104));
  EXPECT_EQ(page->ControlText(105).toStdString(), folder);
  EXPECT_EQ(page->ControlText(106).toStdString(), summary);
  EXPECT_EQ(page->ControlText(102).toStdString(), "Transfering POSITION.BIN");
  auto* path = static_cast<CPathLabel*>(page->Control(105));
  EXPECT_TRUE(path->text().endsWith(QStringLiteral("/Drive003")));
  EXPECT_LE(path->fontMetrics().horizontalAdvance(path->text()), path->contentsRect().width());
  // The folder sits beside its label, the summary below both.
  EXPECT_EQ(page->Control(105)->y(), page->Control(104)->y());
  EXPECT_GT(page->Control(105)->x(), page->Control(104)->x() + page->Control(104)->width() - 1);
  EXPECT_GT(page->Control(106)->y(), page->Control(104)->y());
  EXPECT_GT(page->Control(104)->y(), page->Control(103)->y());
  ExpectNothingClipped(m_window.get());
  gui_test::SaveScreenshot(*m_window, Shot("wizard_progress_project"));
  m_checkpoints.Open(1);

  ASSERT_TRUE(WaitUntil([&] { return OnPage(kDonePageId) && Button(CWizardWindow::kFinishButton)->isVisible(); }));
  Click(CWizardWindow::kFinishButton);
  ASSERT_TRUE(WaitUntil([&] { return m_coreDone.load(); }));
}

// An up-to-date device goes from the start page straight to the done page with message 40.
TEST_P(WizardWindowTest, UpToDateDeviceShowsItsVersion) {
  m_script.deviceFirmware = 336;
  Start(LanguageArgs());
  ASSERT_TRUE(WaitUntil([&] { return OnPage(kStartPageId) && Button(CWizardWindow::kNextButton)->isEnabled(); }));
  Click(CWizardWindow::kNextButton);
  ASSERT_TRUE(WaitUntil([&] { return OnPage(kDonePageId) && Button(CWizardWindow::kFinishButton)->isVisible(); }));
  const std::string text = Page(kDonePageId)->ControlText(102).toStdString();
  EXPECT_NE(text.find("3.36"), std::string::npos) << text;
  EXPECT_EQ(ButtonState(), "Back- Finish+ Cancel-");
  ExpectNothingClipped(m_window.get());
  gui_test::SaveScreenshot(*m_window, Shot("wizard_done_up_to_date"));
  // The close box ends the wizard once the work is done.
  m_window->close();
  ASSERT_TRUE(WaitUntil([&] { return m_coreDone.load(); }));
}

// The "Info" menu's About entry opens the About box with the program's name and version;
// Cancel on the start page ends the wizard without touching a device.
TEST_P(WizardWindowTest, InfoShowsAboutBoxAndCancelEnds) {
  Start(LanguageArgs());
  ASSERT_TRUE(WaitUntil([&] { return OnPage(kStartPageId) && m_window->InfoButton()->isVisible(); }));
  QTest::mouseClick(m_window->InfoButton(), Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] { return m_window->InfoMenu()->isVisible(); }));
  m_window->AboutAction()->trigger();
  m_window->InfoMenu()->hide();
  CAboutBox* about = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    about = m_window->findChild<CAboutBox*>();
    return about != nullptr && about->isVisible();
  }));
  const std::string name = about->NameLabel()->text().toStdString();
  EXPECT_NE(name.find("Tavrix Update"), std::string::npos) << name;
  EXPECT_NE(name.find("3.36"), std::string::npos) << name;
  ExpectNothingClipped(about);
  gui_test::SaveScreenshot(*about, Shot("about_box"));
  about->accept();

  Click(CWizardWindow::kCancelButton);
  ASSERT_TRUE(WaitUntil([&] { return m_coreDone.load(); }));
  EXPECT_EQ(TheWizardState().Updater, nullptr);
}

// At the first start the "Language Selection" dialog comes before the wizard; the wizard then
// speaks the chosen language and the choice is stored.
TEST_P(WizardWindowTest, FirstStartAsksForTheLanguage) {
  Start({});
  CLanguageDialogWidget* dialog = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      dialog = qobject_cast<CLanguageDialogWidget*>(widget);
      if (dialog != nullptr && dialog->isVisible()) return true;
    }
    return false;
  }));
  EXPECT_FALSE(m_window->isVisible());
  const auto& languages = CLanguageDialog::Languages();
  const int index = static_cast<int>(std::find(languages.begin(), languages.end(), GetParam()) - languages.begin());
  dialog->LanguageList()->setCurrentIndex(index);
  QTest::mouseClick(dialog->DontShowAgain(), Qt::LeftButton);
  QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);

  ASSERT_TRUE(WaitUntil([&] { return OnPage(kStartPageId) && Button(CWizardWindow::kNextButton)->isEnabled(); }));
  EXPECT_EQ(UiLanguage(), GetParam());
  EXPECT_EQ(Button(CWizardWindow::kNextButton)->text().toStdString(), LoadResStringIn(12324, GetParam()));
  EXPECT_EQ(Page(kStartPageId)->ControlText(101).toStdString(), LoadResStringIn(1000101, GetParam()));
  Click(CWizardWindow::kCancelButton);
  ASSERT_TRUE(WaitUntil([&] { return m_coreDone.load(); }));

  auto settings = CreateIniSettingsStore("Tavrix", "Tavrix Update", (m_folder / "settings").string());
  EXPECT_EQ(settings->GetInt("Settings", "LangID", 0), GetParam());
  EXPECT_EQ(settings->GetInt("Settings", "ChooseLanguage", 1), 0);
}

// A simulated 2A interface on an emulated bus in the test's folder, behind the demo catalog and
// its generated firmware.
struct CSimulatedQuadrel {
  CSimulatedQuadrel(const std::filesystem::path& folder, const std::string& options)
      : bus(folder / "bus"),
        server(bus.Plug(CSimDeviceRegistry::Instance().Create(ParseSimDeviceDescription("2a:away_ms=0," + options)))),
        device(static_cast<CSim2A&>(server.Device())),
        usb(bus.Directory().string()),
        usbScope(usb) {
    std::filesystem::copy_file(std::filesystem::path(TAVRIX_SOURCE_DIR) / "resources/demo/tavrix-update.config",
                               folder / "tavrix-update.config", std::filesystem::copy_options::overwrite_existing);
    MakeDemoFirmware(folder / "tavrix-update.config");
  }

  CSimBus bus;
  CSimDeviceServer& server;
  CSim2A& device;
  CEmulatedUsbBus usb;
  CUsbBusScope usbScope;
};

// The whole road against a simulated 2A interface on an emulated bus, with the real updater
// behind the demo catalog: the device is found, programmed under the animation window (held
// open while the host waits for the device to come back after its reset) and left up to date.
TEST_P(WizardWindowTest, UpdatesASimulatedQuadrelInterface) {
  class CGatedClock : public CVirtualClock {
   public:
    explicit CGatedClock(CCheckpoints& checkpoints) : m_checkpoints(checkpoints) {}
    void Sleep(std::uint32_t milliseconds) override {
      CVirtualClock::Sleep(milliseconds);
      if (milliseconds == 5000) m_checkpoints.Reach(1);  // after the reset, inside the download
    }

   private:
    CCheckpoints& m_checkpoints;
  } clock(m_checkpoints);
  CClockScope clockScope(clock);
  CSimulatedQuadrel quadrel(m_folder, "variant=1,firmware=307");
  Start(LanguageArgs());

  ASSERT_TRUE(WaitUntil([&] {
    // The demo catalog: the four 2A variants first, then the other families.
    return OnPage(kStartPageId) && static_cast<CTabStopListBox*>(Page(kStartPageId)->Control(401))->count() >= 4 &&
           Button(CWizardWindow::kNextButton)->isEnabled();
  }));
  auto* list = static_cast<CTabStopListBox*>(Page(kStartPageId)->Control(401));
  EXPECT_EQ(list->item(list->currentRow())->text().toStdString(), "QI-2A1\tQuadrel Interface 2A, variant 1");
  gui_test::SaveScreenshot(*m_window, Shot("quadrel_1_start_page"));

  Click(CWizardWindow::kNextButton);
  ASSERT_TRUE(WaitUntil([&] { return OnPage(kFlashPageId) && Button(CWizardWindow::kNextButton)->isEnabled(); }));
  EXPECT_EQ(TheWizardState().DeviceFirmwareVersion, 307);
  // The device found and both versions, in the language of the run.
  EXPECT_EQ(Page(kFlashPageId)->ControlText(CFlashPage::kFoundDevice).toStdString(),
            FormatMessage(LoadResString(42001), {"QI-2A1", "3.07", "3.12"}));
  EXPECT_TRUE(Page(kFlashPageId)->Control(CFlashPage::kFoundDevice)->isVisible());
  ExpectNothingClipped(m_window.get());
  gui_test::SaveScreenshot(*m_window, Shot("quadrel_2_flash_page"));

  Click(CWizardWindow::kNextButton);
  ASSERT_TRUE(WaitUntil([&] { return m_checkpoints.Reached(1); }));
  QApplication::processEvents();
  CAnimationWindow* animation = m_ui.AnimationWindow();
  ASSERT_NE(animation, nullptr);
  EXPECT_TRUE(animation->isVisible());
  EXPECT_FALSE(m_window->isEnabled());
  EXPECT_EQ(animation->StatusLine()->text().toStdString(), LoadResString(30502));
  EXPECT_TRUE(OnPage(kProgressPageId));
  EXPECT_EQ(ButtonState(), "Back- Next- Cancel-");
  gui_test::SaveScreenshot(*m_window, Shot("quadrel_3_progress_page"));
  gui_test::SaveScreenshot(*animation, Shot("quadrel_animation_window"));
  m_checkpoints.Open(1);

  ASSERT_TRUE(WaitUntil([&] { return OnPage(kDonePageId) && Button(CWizardWindow::kFinishButton)->isVisible(); }));
  QApplication::processEvents();
  EXPECT_EQ(Page(kDonePageId)->ControlText(102).toStdString(), LoadResString(37));
  EXPECT_EQ(m_ui.AnimationWindow(), nullptr);
  EXPECT_TRUE(m_window->isEnabled());
  gui_test::SaveScreenshot(*m_window, Shot("quadrel_4_done_page"));
  Click(CWizardWindow::kFinishButton);
  ASSERT_TRUE(WaitUntil([&] { return m_coreDone.load(); }));

  ASSERT_TRUE(quadrel.server.WaitForReenumerations(1, std::chrono::seconds(10)));
  ASSERT_EQ(quadrel.device.Downloads().size(), 1u);
  EXPECT_TRUE(quadrel.device.Downloads()[0].Complete);
  EXPECT_EQ(quadrel.device.FirmwareVersion(), 312);
}

// A device that refuses a segment: the error comes up over the animation window, and once it
// is answered the wizard ends on the failure.
TEST_P(WizardWindowTest, ShowsARefusedSegmentOverTheAnimationWindow) {
  CSimulatedQuadrel quadrel(m_folder, "variant=1,firmware=307,refuse_ack=3");
  Start(LanguageArgs());
  ASSERT_TRUE(WaitUntil([&] { return OnPage(kStartPageId) && Button(CWizardWindow::kNextButton)->isEnabled(); }));
  Click(CWizardWindow::kNextButton);
  ASSERT_TRUE(WaitUntil([&] { return OnPage(kFlashPageId) && Button(CWizardWindow::kNextButton)->isEnabled(); }));
  Click(CWizardWindow::kNextButton);

  ASSERT_TRUE(WaitUntil([&] { return OpenMessageBox() != nullptr; }));
  QMessageBox* box = OpenMessageBox();
  EXPECT_EQ(box->text().toStdString(), LoadResString(20016));
  ASSERT_NE(m_ui.AnimationWindow(), nullptr);
  EXPECT_EQ(box->parentWidget(), m_ui.AnimationWindow());
  EXPECT_TRUE(box->isEnabled());
  QTest::keyClick(box, Qt::Key_Return);

  ASSERT_TRUE(WaitUntil([&] { return OnPage(kDonePageId) && Button(CWizardWindow::kFinishButton)->isVisible(); }));
  QApplication::processEvents();
  EXPECT_EQ(Page(kDonePageId)->ControlText(102).toStdString(), LoadResString(38));
  EXPECT_TRUE(m_window->isEnabled());
  gui_test::SaveScreenshot(*m_window, Shot("quadrel_done_failure"));
  Click(CWizardWindow::kFinishButton);
  ASSERT_TRUE(WaitUntil([&] { return m_coreDone.load(); }));
  EXPECT_FALSE(quadrel.device.Downloads().at(0).Complete);
}

// The demo catalog's start page with simulated devices plugged in and out of an emulated bus
// that is watched as the program watches it: the line of the only device attached at start
// is marked and selected; the marks then follow the devices, and the selection stays.
TEST_P(WizardWindowTest, StartPageMarksFollowTheDevicesOnTheBus) {
  CSimBus bus(m_folder / "bus");
  CSimDeviceServer* atmu = &bus.Plug(CSimDeviceRegistry::Instance().Create(ParseSimDeviceDescription("atmu")));
  std::filesystem::copy_file(std::filesystem::path(TAVRIX_SOURCE_DIR) / "resources/demo/tavrix-update.config",
                             m_folder / "tavrix-update.config", std::filesystem::copy_options::overwrite_existing);
  CEmulatedUsbBus usb(bus.Directory().string());
  CUsbBusScope usbScope(usb);
  std::unique_ptr<IUsbDeviceWatch> watch =
      WatchUsbDevices(usb, [this] { m_view->PushAction({WizardAction::DevicesChanged, 0}); });
  ASSERT_NE(watch, nullptr);
  Start(LanguageArgs());

  // The demo catalog: the four 2A variants (lines 0 to 3), then the ATMU (line 4) and more.
  constexpr int kAtmuLine = 4;
  CTabStopListBox* list = nullptr;
  const auto markedLines = [&] {
    std::vector<int> marked;
    for (int i = 0; list != nullptr && i < list->count(); ++i) {
      if (list->IsLineMarked(i)) marked.push_back(i);
    }
    return marked;
  };
  ASSERT_TRUE(WaitUntil([&] {
    if (!OnPage(kStartPageId) || !Button(CWizardWindow::kNextButton)->isEnabled()) return false;
    list = static_cast<CTabStopListBox*>(Page(kStartPageId)->Control(401));
    return list->count() > kAtmuLine && list->currentRow() == kAtmuLine;
  })) << "the ATMU's line was not selected";
  EXPECT_EQ(markedLines(), std::vector<int>{kAtmuLine});
  // Its tooltip says in words what the mark means, after the whole line.
  const QString wholeLine = list->item(kAtmuLine)->text().replace(QLatin1Char('\t'), QStringLiteral("  "));
  EXPECT_EQ(list->item(kAtmuLine)->toolTip().toStdString(),
            wholeLine.toStdString() + "\n" + LoadResString(41010));
  // The marks take no text: the page's texts are its template's.
  ExpectTemplateTexts(kStartPageId);

  // A 2A interface comes: it can be any of the four variants.
  CSimDeviceServer& quadrel = bus.Plug(CSimDeviceRegistry::Instance().Create(ParseSimDeviceDescription("2a")));
  ASSERT_TRUE(WaitUntil([&] { return markedLines() == std::vector<int>{0, 1, 2, 3, kAtmuLine}; }));
  EXPECT_EQ(list->currentRow(), kAtmuLine);
  gui_test::SaveScreenshot(*m_window, Shot("start_page_marks"));

  // The ATMU goes, then the 2A interface.
  bus.Unplug(*atmu);
  ASSERT_TRUE(WaitUntil([&] { return markedLines() == std::vector<int>{0, 1, 2, 3}; }));
  bus.Unplug(quadrel);
  ASSERT_TRUE(WaitUntil([&] { return markedLines().empty(); }));
  EXPECT_EQ(list->currentRow(), kAtmuLine);
  EXPECT_EQ(list->item(kAtmuLine)->toolTip(), wholeLine);

  Click(CWizardWindow::kCancelButton);
  ASSERT_TRUE(WaitUntil([&] { return m_coreDone.load(); }));
}

INSTANTIATE_TEST_SUITE_P(Languages, WizardWindowTest, ::testing::Values(LANG_ENGLISH, LANG_RUSSIAN),
                         [](const auto& testInfo) { return std::string(gui_test::LanguageSuffix(testInfo.param)); });

}  // namespace
