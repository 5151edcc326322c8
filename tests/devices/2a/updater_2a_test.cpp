// The four 2A updaters, created by class name, against the simulated device in-process on the
// virtual clock: the waits of each download, what the device took, and the version it reports
// afterwards.

#include <gtest/gtest.h>

#include <algorithm>

#include "devices/2a/interface_2a.h"
#include "sim/demo_firmware.h"
#include "sim/devices/2a/sim_2a.h"
#include "sim/sim_test_support.h"
#include "updater/device_catalog.h"
#include "updater/updater_registry.h"

namespace {

using namespace std::chrono_literals;

class Updater2ATest : public SimUsbBusTest {
 protected:

  // The host's waits: the device waits on the same clock, but only with its away time, which
  // these devices do not have.
  std::vector<std::uint32_t> HostWaits() const {
    std::vector<std::uint32_t> waits = m_clock.Waits();
    std::erase(waits, 0u);
    return waits;
  }
};

TEST_F(Updater2ATest, EachUpdaterWaitsAsItsDownloadNeedsAndLeavesTheDeviceOnTheNewVersion) {
  struct Case {
    const char* className;
    const char* variant;
    ESimBootDownloadKind kind;
    std::uint16_t version;
    bool reset;
  };
  const Case cases[] = {
      {"CUpdater2A1", "1", ESimBootDownloadKind::Segment, 312, true},
      {"CUpdater2A2", "2", ESimBootDownloadKind::Segment, 313, true},
      {"CUpdater2A3", "3", ESimBootDownloadKind::Block, 405, false},
      {"CUpdater2AB", "3", ESimBootDownloadKind::Binary, 120, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.className);
    CSim2A& device = PlugDescribed<CSim2A>(std::string("2a:variant=") + c.variant +
                                           ",firmware=105,away_ms=0,serial=" + c.className);
    DeviceRecord record;
    record.FirmwarePath = (m_folder / (std::string(c.className) + ".img")).string();
    WriteDemoFirmware(c.className, c.version, record.FirmwarePath);

    m_clock.ClearWaits();
    std::unique_ptr<CUpdater> updater = UpdaterRegistry::Instance().Create(c.className);
    ASSERT_NE(updater, nullptr);
    ASSERT_TRUE(updater->Connect());
    EXPECT_EQ(updater->GetFirmwareVersion(), 105);
    EXPECT_EQ(HostWaits(), std::vector<std::uint32_t>{1000}) << "the transport's open delay";

    m_clock.ClearWaits();
    ASSERT_TRUE(updater->Update(record, nullptr));
    ASSERT_TRUE(device.WaitForEndedDownloads(1, 10s));
    const std::vector<CSimBootDownload> downloads = device.Downloads();
    ASSERT_EQ(downloads.size(), 1u);
    EXPECT_EQ(downloads[0].Kind, c.kind);
    EXPECT_TRUE(downloads[0].Complete);
    EXPECT_TRUE(device.Violations().empty());

    std::vector<std::uint32_t> waits;
    if (c.kind == ESimBootDownloadKind::Block) {
      waits.push_back(2000);
      waits.insert(waits.end(), downloads[0].Items.size(), 300);
    }
    if (c.reset) waits.push_back(5000);
    EXPECT_EQ(HostWaits(), waits);

    if (c.reset) {
      ASSERT_TRUE(m_server->WaitForReenumerations(1, 10s));
    }
    updater.reset();  // the transport goes with it
    std::unique_ptr<CUpdater> again = UpdaterRegistry::Instance().Create(c.className);
    ASSERT_TRUE(again->Connect());
    EXPECT_EQ(again->GetFirmwareVersion(), c.version);
    again.reset();
    m_bus->Unplug(*m_server);
  }
}

}  // namespace
