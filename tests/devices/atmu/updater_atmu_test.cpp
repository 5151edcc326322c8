// CUpdaterATMU, created by class name for its catalog entry, against the simulated ATMU device
// in-process on the virtual clock: what crosses the wire, the waits, the version afterwards, and
// what happens when the image does not load or the device is another.

#include <gtest/gtest.h>

#include <fstream>

#include "devices/atmu/interface_atmu.h"
#include "image/hex_file_reader.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "sim/demo_firmware.h"
#include "sim/devices/atmu/sim_atmu.h"
#include "sim/sim_test_support.h"
#include "support/image_files.h"
#include "updater/device_catalog.h"
#include "updater/updater_registry.h"

namespace {

using namespace std::chrono_literals;
using Frame = std::vector<std::uint8_t>;

class UpdaterATMUTest : public SimUsbBusTest {
 protected:
  UpdaterATMUTest() {
    m_entry.ClassName = "CUpdaterATMU";
    m_entry.Id = CSimATMU::kDefaultModel;
    m_entry.Name = "ATMU device";
    m_entry.UsbPid = CSimATMU::kProductId;
    m_entry.FirmwarePath = (m_folder / "atmu.hex").string();
  }
  std::unique_ptr<CUpdater> Create() const { return UpdaterRegistry::Instance().Create(m_entry.ClassName, m_entry); }

  // The bytes the host sent, frame boundaries aside.
  static Frame Joined(const std::vector<Frame>& frames, std::size_t from) {
    Frame bytes;
    for (std::size_t i = from; i < frames.size(); ++i) bytes.insert(bytes.end(), frames[i].begin(), frames[i].end());
    return bytes;
  }

  DeviceRecord m_entry;
};

TEST_F(UpdaterATMUTest, ProgramsEveryPageWithItsWaitsAndComesBackWithTheNewVersion) {
  CSimATMU& device = PlugDescribed<CSimATMU>("atmu:firmware=105,page_code=0x52");
  WriteDemoFirmware("CUpdaterATMU", 214, m_entry.FirmwarePath);

  std::unique_ptr<CUpdater> updater = Create();
  ASSERT_NE(updater, nullptr);
  ASSERT_TRUE(updater->Connect());
  EXPECT_EQ(updater->GetFirmwareVersion(), 105);
  EXPECT_TRUE(m_clock.Waits().empty()) << "the second-generation transport opens without a wait";

  ASSERT_TRUE(updater->Update(m_entry, nullptr));
  EXPECT_EQ(m_clock.Waits(), (std::vector<std::uint32_t>{500, 2000}));
  ASSERT_TRUE(device.WaitForEndedDownloads(1, 10s));
  std::vector<CSimAtmuDownload> downloads = device.Downloads();
  ASSERT_EQ(downloads.size(), 1u);
  EXPECT_TRUE(downloads[0].Complete);
  EXPECT_TRUE(device.Violations().empty());

  // The demo image ends at 0x102FF: pages 0 to 0x40B of 64 bytes, erased ones included.
  ASSERT_EQ(downloads[0].Pages.size(), 0x40Cu);
  std::vector<std::uint8_t> flash;
  for (std::size_t i = 0; i < downloads[0].Pages.size(); ++i) {
    EXPECT_EQ(downloads[0].Pages[i].Number, i);
    flash.insert(flash.end(), downloads[0].Pages[i].Data.begin(), downloads[0].Pages[i].Data.end());
  }
  CIntelHexFileReader reader;
  ASSERT_TRUE(reader.Open(m_entry.FirmwarePath));
  ASSERT_TRUE(reader.AllocImage(flash.size()));
  ASSERT_TRUE(reader.ReadImage());
  EXPECT_EQ(flash, reader.Image());

  // On the wire: the identity, 1E alone, 3C, then page 0's number, bytes and checksum ... FF FF.
  std::vector<Frame> out = device.Transcript().Frames(ESimEvent::Out);
  ASSERT_GE(out.size(), 4u);
  EXPECT_EQ(out[0], Frame{0x02});
  EXPECT_EQ(out[1], Frame{0x1E});
  EXPECT_EQ(out[2], Frame{0x3C});
  EXPECT_EQ(out[3], (Frame{0x00, 0x00}));
  EXPECT_EQ(out.back(), (Frame{0xFF, 0xFF}));
  EXPECT_EQ(Joined(out, 3).size(), 0x40Cu * (2 + 64 + 1) + 2);

  updater.reset();
  std::unique_ptr<CUpdater> again = Create();
  ASSERT_TRUE(again->Connect());
  EXPECT_EQ(again->GetFirmwareVersion(), 214);
}

TEST_F(UpdaterATMUTest, AnImageThatDoesNotLoadSendsNothing) {
  CSimATMU& device = PlugDescribed<CSimATMU>("atmu:firmware=105");
  std::ofstream(m_entry.FirmwarePath) << image_test::Lines({image_test::HexData(0, {1, 2, 3})});  // no end record
  std::unique_ptr<CUpdater> updater = Create();
  ASSERT_TRUE(updater->Connect());

  EXPECT_FALSE(updater->Update(m_entry, nullptr));

  EXPECT_EQ(device.Transcript().Frames(ESimEvent::Out), std::vector<Frame>{{0x02}});
  EXPECT_TRUE(m_clock.Waits().empty());
  ASSERT_EQ(m_ui.MessageTexts().size(), 1u);
  EXPECT_NE(m_ui.MessageTexts()[0].find(m_entry.FirmwarePath), std::string::npos) << m_ui.MessageTexts()[0];
}

TEST_F(UpdaterATMUTest, AnotherDeviceIsNamedAndEveryTryTakesAFreshTransportWithoutSimulation) {
  CSimATMU& device = PlugDescribed<CSimATMU>("atmu:model=ZA0816-3T");
  m_ui.QueueInterfaceAnswer(4);  // Repeat Initialising
  m_ui.QueueInterfaceAnswer(2);  // Exit Program

  std::unique_ptr<CUpdater> updater = Create();
  EXPECT_FALSE(updater->Connect());

  const std::string wrongDevice = FormatMessage(LoadResString(20007), {"ZA0816-3T 100", "ZA0815-2T"});
  EXPECT_EQ(m_ui.MessageTexts(), (std::vector<std::string>{wrongDevice, wrongDevice}));
  EXPECT_EQ(device.Transcript().Count(ESimEvent::Connect), 2u);
  EXPECT_EQ(static_cast<CUpdaterATMU&>(*updater).Interface().Stream(), nullptr);
}

}  // namespace
