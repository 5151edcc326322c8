// The MK interface: identification against the catalog entry and the block download in the MK
// byte order over a memory transport, and its updater against the simulated device in-process
// on the virtual clock.

#include "devices/mk/interface_mk.h"

#include "devices/downloads/block_download.h"
#include "devices/downloads/download_fixture.h"
#include "platform/text_format.h"
#include "sim/demo_firmware.h"
#include "sim/devices/mk/sim_mk.h"
#include "sim/sim_test_support.h"
#include "transport/usb_init_failed_dlg.h"
#include "updater/updater_registry.h"

namespace {

using namespace std::chrono_literals;
using namespace image_test;

DeviceRecord Entry(const std::string& id, std::uint16_t usbPid = CSimMK::kProductId) {
  DeviceRecord entry;
  entry.ClassName = "CUpdaterMK";
  entry.Id = id;
  entry.Name = "Interface MK";
  entry.UsbPid = usbPid;
  return entry;
}

using CMemoryInterfaceMK = CMemoryInterface<CInterfaceMK>;

using InterfaceMKTest = DownloadTest;

TEST_F(InterfaceMKTest, IdentifyComparesWithTheCatalogIdOverNineCharacters) {
  struct Case {
    std::string id;
    std::string identity;
    bool accepted;
    bool wrongDevice;  // message 20007 naming the identity and the whole Id
  };
  const Case cases[] = {
      {"ZM7310-4K", "ZM7310-4K MK boot 105", true, false},
      {"ZM7310-4K-LONG", "ZM7310-4K MK boot 105", true, false},  // agrees in nine, differs after
      {"ZM7310-4K", "ZM7310-9X MK boot 105", false, true},
      {"ZM7310-4K-LONG", "ZM7310-9X", false, true},
      {"MK", "MK", true, false},        // an Id shorter than nine: equal in full
      {"MK", "MK 105", false, true},    // ... and no more
      {"MK", "M", false, true},
      {"", "", true, false},            // an empty Id accepts only an empty identity
      {"", "ZM7310-4K", false, true},
      {"ZM7310-4K", "", false, false},  // refused without message
      // An Id beyond ASCII: nine characters, not nine bytes of its UTF-8 form, and the device
      // sends one byte per character.
      {"ZM7310-\u00c44K", "ZM7310-\xc4" "4K MK boot 105", true, false},
      {"ZM7310-\u00c44K", "ZM7310-\xc5" "4K MK boot 105", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id + " / " + c.identity);
    CScriptedUserInterface ui;
    CMemoryInterfaceMK device(Entry(c.id));
    device.memory->ReplyToNextWrite(c.identity + std::string(1, '\0'));
    EXPECT_EQ(device.Identify(), c.accepted);
    EXPECT_EQ(device.memory->written, Bytes{0x02}) << "no variant question";
    std::vector<std::string> messages;
    if (c.wrongDevice) messages.push_back(FormatMessage(LoadResString(20007), {DeviceTextToUtf8(c.identity), c.id}));
    EXPECT_EQ(ui.MessageTexts(), messages);
  }
}

TEST_F(InterfaceMKTest, BlockDownloadGoesLowByteFirstAfterAShorterPause) {
  CMemoryInterfaceMK device(Entry("ZM7310-4K"));
  device.memory->Answer({CStreamIO::kAck, CStreamIO::kAck});
  // Blank but for one byte at 0x12345: block 18 at 0x12000.
  std::string path = m_folder.Write("fw.hex", Lines({HexExtLinear(0x0001), HexData(0x2345, {0xA5}), kHexEof}));

  EXPECT_TRUE(device.ProgramHexBlocks(path));

  Bytes block(kHexBlockSize, 0xFF);
  block[0x345] = 0xA5;
  const std::vector<Bytes> expected = {
      {0x1F}, {0x04}, {0x00, 0x20, 0x01, 0x00}, {0x00, 0x10}, block, {0x10},
  };
  EXPECT_EQ(device.memory->packets, expected);
  EXPECT_EQ(m_clock.Waits(), (std::vector<std::uint32_t>{1000, 300}));
  EXPECT_TRUE(device.memory->input.empty()) << "both acknowledgements were read";
}

class UpdaterMKTest : public SimUsbBusTest {};

TEST_F(UpdaterMKTest, BlockDownloadOnTheVirtualClockAndTheNewVersionAtOnce) {
  CSimMK& device = PlugDescribed<CSimMK>("mk:firmware=105");
  DeviceRecord record = Entry(CSimMK::kDefaultModel);
  record.FirmwarePath = (m_folder / "fw.hex").string();
  WriteDemoFirmware("CUpdaterMK", 230, record.FirmwarePath);

  std::unique_ptr<CUpdater> updater = UpdaterRegistry::Instance().Create("CUpdaterMK", record);
  ASSERT_NE(updater, nullptr);
  ASSERT_TRUE(updater->Connect());
  EXPECT_EQ(updater->GetFirmwareVersion(), 105);
  EXPECT_TRUE(m_clock.Waits().empty()) << "the second-generation transport has no open delay";

  ASSERT_TRUE(updater->Update(record, nullptr));
  ASSERT_TRUE(device.WaitForEndedDownloads(1, 10s));
  const std::vector<CSimBootDownload> downloads = device.Downloads();
  ASSERT_EQ(downloads.size(), 1u);
  EXPECT_TRUE(downloads[0].Complete);
  std::vector<std::uint32_t> addresses;
  for (const CSimBootItem& item : downloads[0].Items) addresses.push_back(item.Address);
  EXPECT_EQ(addresses, (std::vector<std::uint32_t>{0x00000, 0x12000, 0x13000}));
  EXPECT_TRUE(device.Violations().empty()) << device.Violations()[0];
  EXPECT_EQ(m_clock.Waits(), (std::vector<std::uint32_t>{1000, 300, 300, 300}));
  EXPECT_TRUE(updater->Finish());

  // The firmware starts by itself: no reset, the new version at the next connect.
  updater.reset();
  std::unique_ptr<CUpdater> again = UpdaterRegistry::Instance().Create("CUpdaterMK", record);
  ASSERT_TRUE(again->Connect());
  EXPECT_EQ(again->GetFirmwareVersion(), 230);
}

TEST_F(UpdaterMKTest, TheTransportIsNamedAndFoundByTheCatalogEntry) {
  PlugDescribed<CSimMK>("mk:pid=0x4D4C");
  struct Case {
    std::uint16_t usbPid;
    bool connected;
  };
  for (const Case& c : {Case{0x4D4C, true}, Case{0x4D4B, false}}) {
    CScriptedUserInterface ui;
    ui.QueueInterfaceAnswer(CUsbInitFailedDlg::kExitButton);
    std::unique_ptr<CUpdater> updater = UpdaterRegistry::Instance().Create("CUpdaterMK", Entry("ZM7310-4K", c.usbPid));
    EXPECT_EQ(updater->Connect(), c.connected) << c.usbPid;
    if (!c.connected) {
      ASSERT_EQ(ui.InterfaceTexts().size(), 1u);
      EXPECT_NE(ui.InterfaceTexts()[0].find("Tavrix ZM7310-4K Interface MK"), std::string::npos)
          << ui.InterfaceTexts()[0];
    }
  }
}

}  // namespace
