// The wizard's core on a thread of its own, as the Qt wizard runs it: start-up, the sheet's run,
// the pages and the real updater's blocking I/O on one thread; the front end (drawing, the
// person's answers) on the test's thread; the USB watch's thread queueing bus changes. A whole
// update of a simulated device goes through every hand-over between them. Built without Qt,
// so that the ThreadSanitizer build checks it.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <thread>

#include "platform/clock.h"
#include "platform/emulated_usb_bus.h"
#include "platform/string_table.h"
#include "platform/usb_bus.h"
#include "platform/usb_device_watch.h"
#include "sim/demo_firmware.h"
#include "sim/devices/2a/sim_2a.h"
#include "sim/sim_bus.h"
#include "sim/sim_device_registry.h"
#include "support/threaded_front_end.h"
#include "support/wizard_fixture.h"
#include "wizard/dialog_templates.h"
#include "wizard/the_app.h"
#include "wizard/wizard_state.h"

namespace {

class WizardCoreThread : public WizardFixture {
 protected:
  WizardCoreThread() {
    StoreInt("ChooseLanguage", 0);
    std::filesystem::copy_file(std::filesystem::path(TAVRIX_SOURCE_DIR) / "resources/demo/tavrix-update.config",
                               CatalogPath(), std::filesystem::copy_options::overwrite_existing);
    MakeDemoFirmware(CatalogPath());
  }

  // CTheApp::InitInstance on a second thread, the front end on this one.
  bool RunOnACoreThread() {
    CThreadedUserInterface ui(m_loop, m_ui);
    std::unique_ptr<IUsbDeviceWatch> watch =
        WatchUsbDevices(m_usb, [this] { m_threadedView.PushAction({WizardAction::DevicesChanged, 0}); });
    EXPECT_NE(watch, nullptr);
    return RunCoreOnItsOwnThread(m_loop, [this] {
      CTheApp app(m_threadedView, {}, SettingsDirectory());
      return app.InitInstance();
    });
  }

  CVirtualClock m_clock;
  CClockScope m_clockScope{m_clock};
  CSimBus m_bus{m_folder / "bus"};
  CSimDeviceServer& m_server{
      m_bus.Plug(CSimDeviceRegistry::Instance().Create(ParseSimDeviceDescription("2a:away_ms=0,variant=1,firmware=307")))};
  CEmulatedUsbBus m_usb{m_bus.Directory().string()};
  CUsbBusScope m_usbScope{m_usb};
  CFrontEndLoop m_loop;
  CThreadedSheetView m_threadedView{m_loop, m_view};
};

// The person takes the device the start page selected, confirms the update and finishes: the
// device is programmed whole, and the pages were drawn in order from the core's thread.
TEST_F(WizardCoreThread, UpdatesASimulatedDeviceFromTheCoreThread) {
  m_view.Queue(WizardAction::Next, kStartPageId);
  m_view.Queue(WizardAction::Next, kFlashPageId);
  m_view.Queue(WizardAction::Finish, kDonePageId);
  RunOnACoreThread();

  EXPECT_EQ(m_view.shownPages, (std::vector<int>{kStartPageId, kFlashPageId, kProgressPageId, kDonePageId}));
  EXPECT_EQ(m_view.Text(kDonePageId, 102), LoadResString(37));
  const std::vector<std::thread::id> callers = m_threadedView.CallingThreads();
  ASSERT_EQ(callers.size(), 1u);
  EXPECT_NE(callers[0], std::this_thread::get_id());

  auto& device = static_cast<CSim2A&>(m_server.Device());
  ASSERT_TRUE(m_server.WaitForReenumerations(1, std::chrono::seconds(10)));
  ASSERT_EQ(device.Downloads().size(), 1u);
  EXPECT_TRUE(device.Downloads()[0].Complete);
  EXPECT_EQ(device.FirmwareVersion(), 312);
}

}  // namespace
