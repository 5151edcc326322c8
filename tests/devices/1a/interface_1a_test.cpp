// The 1A interface: its identification over a memory transport, and its updater against the
// simulated device in-process on the virtual clock.

#include "devices/1a/interface_1a.h"

#include <algorithm>

#include "devices/downloads/download_fixture.h"
#include "platform/text_format.h"
#include "sim/demo_firmware.h"
#include "sim/devices/1a/sim_1a.h"
#include "sim/sim_test_support.h"
#include "updater/device_catalog.h"
#include "updater/updater_registry.h"

namespace {

using namespace std::chrono_literals;

using CMemoryInterface1A = CMemoryInterface<CInterface1A>;

using Interface1ATest = DownloadTest;

TEST_F(Interface1ATest, IdentifyAcceptsTheModelCodeAtItsIndexOnly) {
  struct Case {
    std::string identity;
    bool accepted;
    bool wrongDevice;  // message 20007
    std::uint16_t version;
  };
  const Case cases[] = {
      {"ZQ1184-2B 105", true, false, 105},
      {"ZQ1184-2Bx  7 more", true, false, 7},  // only the first nine characters count
      {"ZQ1184-2B", true, false, 0},           // no version behind the model code
      {"ZQ1184-2", false, true, 0},            // shorter than the model code
      {"ZR9046-3C 105", false, true, 0},       // a 1Z
      {"", false, false, 0},
  };
  for (const Case& c : cases) {
    CScriptedUserInterface ui;
    CMemoryInterface1A device;
    device.memory->Answer({0x55});  // stale input, cleared before the question
    device.memory->ReplyToNextWrite(c.identity + std::string(1, '\0') + "x");
    EXPECT_EQ(device.Identify(), c.accepted) << c.identity;
    EXPECT_EQ(device.memory->written, Bytes{0x02}) << c.identity;
    // After a match the input is cleared again, so nothing behind the identity is left.
    EXPECT_EQ(device.memory->input.empty(), c.accepted) << c.identity;
    std::vector<std::string> messages;
    if (c.wrongDevice) messages.push_back(FormatMessage(LoadResString(20007), {c.identity, "ZQ1184-2B"}));
    EXPECT_EQ(ui.MessageTexts(), messages) << c.identity;
    if (c.accepted) {
      EXPECT_EQ(CStreamDevice::ParseVersionAt(device.Identity(), CInterface1A::kVersionIndex), c.version);
    }
  }
}

class Updater1ATest : public SimUsbBusTest {};

TEST_F(Updater1ATest, SegmentDownloadAlongTableAThenTheResetAndTheNewVersion) {
  CSim1A& device = PlugDescribed<CSim1A>("1a:firmware=105,away_ms=0");
  DeviceRecord record;
  record.FirmwarePath = (m_folder / "fw.seg").string();
  WriteDemoFirmware("CUpdater1A", 210, record.FirmwarePath);

  std::unique_ptr<CUpdater> updater = UpdaterRegistry::Instance().Create("CUpdater1A");
  ASSERT_NE(updater, nullptr);
  ASSERT_TRUE(updater->Connect());
  EXPECT_EQ(updater->GetFirmwareVersion(), 105);
  EXPECT_EQ(updater->GetApplicationVersion(), 0);
  EXPECT_EQ(m_clock.Waits(), std::vector<std::uint32_t>{1000}) << "the transport's open delay";
  m_clock.ClearWaits();

  ASSERT_TRUE(updater->Update(record, nullptr));
  ASSERT_TRUE(device.WaitForEndedDownloads(1, 10s));
  const std::vector<CSimBootDownload> downloads = device.Downloads();
  ASSERT_EQ(downloads.size(), 1u);
  EXPECT_TRUE(downloads[0].Complete);
  // The demo image's two segments, both in regions of kind 1 of table A.
  ASSERT_EQ(downloads[0].Items.size(), 2u);
  EXPECT_EQ(downloads[0].Items[0].Address, 0x04000u);
  EXPECT_EQ(downloads[0].Items[0].SizeField, 0x1200u);
  EXPECT_EQ(downloads[0].Items[1].Address, 0x08000u);
  EXPECT_EQ(downloads[0].Items[1].Kind, 1u);
  EXPECT_TRUE(device.Violations().empty()) << device.Violations()[0];
  EXPECT_EQ(m_clock.Waits(), std::vector<std::uint32_t>{5000}) << "the reset's wait, and no other";
  EXPECT_TRUE(updater->Finish());

  ASSERT_TRUE(m_server->WaitForReenumerations(1, 10s));
  updater.reset();
  std::unique_ptr<CUpdater> again = UpdaterRegistry::Instance().Create("CUpdater1A");
  ASSERT_TRUE(again->Connect());
  EXPECT_EQ(again->GetFirmwareVersion(), 210);
}

}  // namespace
