// CUpdaterC28XX, created by class name for its catalog entry, against the simulated device
// in-process on the virtual clock: the waits of the program download, what the device took,
// and the version it reports afterwards.

#include <gtest/gtest.h>

#include "devices/c28xx/interface_c28xx.h"
#include "platform/string_table.h"
#include "sim/demo_firmware.h"
#include "sim/devices/c28xx/sim_c28xx.h"
#include "sim/sim_test_support.h"
#include "transport/usb_init_failed_dlg.h"
#include "updater/device_catalog.h"
#include "updater/updater_registry.h"

namespace {

using namespace std::chrono_literals;

class UpdaterC28XXTest : public SimUsbBusTest {
 protected:
  UpdaterC28XXTest() {
    SetUiLanguage(LANG_ENGLISH);
    m_entry.Id = "ZT5503-1D";
    m_entry.Name = "C28xx DSP Unit";
    m_entry.UsbPid = 0x5503;
    m_entry.FirmwarePath = (m_folder / "c28xx.hex").string();
  }
  std::unique_ptr<CUpdater> Create() const { return UpdaterRegistry::Instance().Create("CUpdaterC28XX", m_entry); }

  DeviceRecord m_entry;
};

TEST_F(UpdaterC28XXTest, ProgramsTheDemoImageWithItsWaitsAndTheDeviceStartsTheNewVersion) {
  CSimC28xx& device = PlugDescribed<CSimC28xx>("c28xx:firmware=105");
  WriteDemoFirmware("CUpdaterC28XX", 214, m_entry.FirmwarePath);

  std::unique_ptr<CUpdater> updater = Create();
  ASSERT_NE(updater, nullptr);
  ASSERT_TRUE(updater->Connect());
  EXPECT_EQ(updater->GetFirmwareVersion(), 105);
  EXPECT_TRUE(m_clock.Waits().empty()) << "the second-generation transport opens without a delay";

  ASSERT_TRUE(updater->Update(m_entry, nullptr));
  ASSERT_TRUE(device.WaitForEndedDownloads(1, 10s));
  const std::vector<CSimC28xxDownload> downloads = device.Downloads();
  ASSERT_EQ(downloads.size(), 1u);
  EXPECT_TRUE(downloads[0].Complete);
  std::vector<std::tuple<std::uint32_t, std::uint16_t, std::uint16_t, std::size_t>> segments;
  for (const CSimC28xxSegment& s : downloads[0].Segments) segments.emplace_back(s.Start, s.Words, s.Kind, s.Data.size());
  // The demo image's fourth run lies where the flash is never written: it stays home.
  EXPECT_EQ(segments, (decltype(segments){{0x300000, 0x0C00, 1, 0x1800}, {0x304000, 0x0400, 2, 0x800},
                                          {0x310000, 0x0800, 1, 0x1000}}));
  EXPECT_TRUE(device.Violations().empty()) << device.Violations()[0];
  // 2000 ms after the start, 1000 ms before each segment's status, 1000 ms before the end.
  EXPECT_EQ(m_clock.Waits(), (std::vector<std::uint32_t>{2000, 1000, 1000, 1000, 1000}));

  updater.reset();  // the transport goes with it
  std::unique_ptr<CUpdater> again = Create();
  ASSERT_TRUE(again->Connect());
  EXPECT_EQ(again->GetFirmwareVersion(), 214);
}

TEST_F(UpdaterC28XXTest, AnotherDeviceIsNamedAndNotConnected) {
  PlugDescribed<CSimC28xx>("c28xx:id=ZT9999-2A");
  m_ui.QueueInterfaceAnswer(CUsbInitFailedDlg::kExitButton);
  std::unique_ptr<CUpdater> updater = Create();
  EXPECT_FALSE(updater->Connect());
  EXPECT_EQ(m_ui.MessageTexts(),
            std::vector<std::string>{"Device \"ZT9999-2A 100\" found.\nThe program requires device \"ZT5503-1D\"."});
  ASSERT_EQ(m_ui.InterfaceTexts().size(), 1u);
  EXPECT_NE(m_ui.InterfaceTexts()[0].find("Tavrix ZT5503-1D C28xx DSP Unit"), std::string::npos)
      << m_ui.InterfaceTexts()[0];
}

}  // namespace
