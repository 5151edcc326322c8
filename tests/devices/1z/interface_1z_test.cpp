// The 1Z interface: its identification with 10 01 and its Finish with 10 00 over a memory
// transport, and its updater against the simulated device in-process on the virtual clock.

#include "devices/1z/interface_1z.h"

#include "devices/downloads/download_fixture.h"
#include "platform/text_format.h"
#include "sim/demo_firmware.h"
#include "sim/devices/1z/sim_1z.h"
#include "sim/sim_test_support.h"
#include "transport/stream_exception.h"
#include "transport/usb_init_failed_dlg.h"
#include "updater/device_catalog.h"
#include "updater/updater_registry.h"

namespace {

using namespace std::chrono_literals;

using CMemoryInterface1Z = CMemoryInterface<CInterface1Z>;

using Interface1ZTest = DownloadTest;

TEST_F(Interface1ZTest, IdentifySends1001AfterTheModelCodeAndNeedsItsAcknowledgement) {
  struct Case {
    std::string identity;
    std::string answer;  // to 10 01
    const char* result;  // "true", "false" or "20016"
    std::vector<Bytes> packets;
    bool wrongDevice;
  };
  const Case cases[] = {
      {"ZR9046-3C 105", "!", "true", {{0x02}, {0x10, 0x01}}, false},
      {"ZR9046-3C 105", "?x", "20016", {{0x02}, {0x10, 0x01}}, false},  // "x": input the refusal clears
      {"ZR9046-3C 105", "", "20009", {{0x02}, {0x10, 0x01}}, false},  // no answer at all
      {"ZQ1184-2B 105", "!", "false", {{0x02}}, true},               // a 1A
      {"", "!", "false", {{0x02}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.identity + " / " + c.answer);
    CScriptedUserInterface ui;
    CMemoryInterface1Z device;
    device.memory->ReplyToNextWrite(c.identity + std::string(1, '\0'));
    device.memory->ReplyToNextWrite(c.answer);
    std::string result;
    try {
      result = device.Identify() ? "true" : "false";
    } catch (const CStreamException& error) {
      result = std::to_string(error.MessageId());
    }
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(device.memory->packets, c.packets);
    std::vector<std::string> messages;
    if (c.wrongDevice) messages.push_back(FormatMessage(LoadResString(20007), {c.identity, "ZR9046-3C"}));
    EXPECT_EQ(ui.MessageTexts(), messages);
    if (result == "20016") {
      EXPECT_TRUE(device.memory->input.empty()) << "a refusal clears the input";
    }
  }
}

TEST_F(Interface1ZTest, FinishSends1000AndClosesOnlyWhileTheTransportIsOpen) {
  struct Case {
    const char* name;
    bool open;
    std::string answer;
    bool result;
    std::vector<Bytes> packets;
  };
  const Case cases[] = {
      {"acknowledged", true, "!", true, {{0x10, 0x00}}},
      {"refused", true, "?", false, {{0x10, 0x00}}},
      {"no answer", true, "", false, {{0x10, 0x00}}},
      {"closed by the reset", false, "!", true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CMemoryInterface1Z device;
    device.memory->ReplyToNextWrite(c.answer);
    if (!c.open) device.memory->Close();
    bool result = true;
    try {
      device.Leave();
    } catch (const CStreamException&) {
      result = false;
    }
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(device.memory->packets, c.packets);
    // Closed after an acknowledged 10 00; a failure leaves before the close.
    EXPECT_EQ(device.memory->IsOpen(), c.open && !c.result);
  }
}

class Updater1ZTest : public SimUsbBusTest {};

TEST_F(Updater1ZTest, SegmentDownloadAfter1001ThenFinishHasNobodyToTell) {
  CSim1Z& device = PlugDescribed<CSim1Z>("1z:firmware=105,away_ms=0");
  DeviceRecord record;
  record.FirmwarePath = (m_folder / "fw.seg").string();
  WriteDemoFirmware("CUpdater1Z", 215, record.FirmwarePath);

  std::unique_ptr<CUpdater> updater = UpdaterRegistry::Instance().Create("CUpdater1Z");
  ASSERT_NE(updater, nullptr);
  ASSERT_TRUE(updater->Connect());
  EXPECT_EQ(updater->GetFirmwareVersion(), 105);
  EXPECT_EQ(device.Commands10(), std::vector<std::uint8_t>{0x01});
  EXPECT_EQ(m_clock.Waits(), std::vector<std::uint32_t>{1000}) << "the transport's open delay";
  m_clock.ClearWaits();

  ASSERT_TRUE(updater->Update(record, nullptr));
  ASSERT_TRUE(device.WaitForEndedDownloads(1, 10s));
  const std::vector<CSimBootDownload> downloads = device.Downloads();
  ASSERT_EQ(downloads.size(), 1u);
  EXPECT_TRUE(downloads[0].Complete);
  ASSERT_EQ(downloads[0].Items.size(), 2u);
  EXPECT_EQ(downloads[0].Items[1].Address, 0x10000u);
  EXPECT_TRUE(device.Violations().empty());
  EXPECT_EQ(m_clock.Waits(), std::vector<std::uint32_t>{5000});

  // The reset closed the transport: Finish sends nothing and succeeds.
  EXPECT_TRUE(updater->Finish());
  EXPECT_EQ(device.Commands10(), std::vector<std::uint8_t>{0x01});

  ASSERT_TRUE(m_server->WaitForReenumerations(1, 10s));
  updater.reset();
  std::unique_ptr<CUpdater> again = UpdaterRegistry::Instance().Create("CUpdater1Z");
  ASSERT_TRUE(again->Connect());
  EXPECT_EQ(again->GetFirmwareVersion(), 215);
  // Without a download in between the transport is still open: 10 00 goes out and is answered.
  EXPECT_TRUE(again->Finish());
  EXPECT_EQ(device.Commands10(), (std::vector<std::uint8_t>{0x01, 0x01, 0x00}));
}

TEST_F(Updater1ZTest, FinishIsFalseWhenTheDeviceRefuses1000) {
  CSim1Z& device = PlugDescribed<CSim1Z>("1z:refuse_ack=2");  // the first is 10 01's
  std::unique_ptr<CUpdater> updater = UpdaterRegistry::Instance().Create("CUpdater1Z");
  ASSERT_TRUE(updater->Connect());
  EXPECT_FALSE(updater->Finish());
  EXPECT_EQ(device.Commands10(), (std::vector<std::uint8_t>{0x01, 0x00}));
  EXPECT_TRUE(m_ui.MessageTexts().empty()) << "Finish reports by its result only";
}

TEST_F(Updater1ZTest, ARefused1001LeadsToTheInterfaceQuestion) {
  PlugDescribed<CSim1Z>("1z:refuse_ack=1");
  m_ui.QueueInterfaceAnswer(CUsbInitFailedDlg::kExitButton);
  std::unique_ptr<CUpdater> updater = UpdaterRegistry::Instance().Create("CUpdater1Z");
  EXPECT_FALSE(updater->Connect());
  ASSERT_EQ(m_ui.InterfaceTexts().size(), 1u);
  EXPECT_NE(m_ui.InterfaceTexts()[0].find("Tavrix ZR9046-3C Interface"), std::string::npos) << m_ui.InterfaceTexts()[0];
  EXPECT_TRUE(m_ui.MessageTexts().empty()) << m_ui.MessageTexts()[0];
}

}  // namespace
