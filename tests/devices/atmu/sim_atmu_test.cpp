// The simulated ATMU device driven by the program's own USB transport over the emulated bus,
// with the host side written here byte by byte: the answers to a wrong checksum and to pages
// out of order, the version tag found across a page boundary, and the record file.

#include "sim/devices/atmu/sim_atmu.h"

#include <gtest/gtest.h>

#include "devices/atmu/my_usb2.h"
#include "platform/text_format.h"
#include "sim/firmware_version_tag.h"
#include "sim/sim_test_support.h"
#include "support/temp_folder.h"
#include "updater/device_catalog.h"

namespace {

using namespace std::chrono_literals;
using Page = std::vector<std::uint8_t>;

class SimATMUTest : public SimUsbBusTest {
 protected:
  std::unique_ptr<CStreamIO> OpenTransport() {
    DeviceRecord entry;
    entry.Id = CSimATMU::kDefaultModel;
    entry.UsbPid = CSimATMU::kProductId;
    auto stream = std::make_unique<CMyUsb2>(entry);
    EXPECT_TRUE(stream->Open());
    return stream;
  }

  // Sends one page with `checksum`; the device's answer.
  static std::uint8_t SendPage(CStreamIO& io, std::uint16_t number, const Page& page, std::uint8_t checksum) {
    const std::uint8_t header[] = {static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number)};
    io.Write(header, 2);
    io.Write(page.data(), static_cast<unsigned>(page.size()));
    io.WriteByte(checksum);
    return io.ReadByte();
  }
  static std::uint8_t Sum(const Page& page) {
    unsigned sum = 0;
    for (std::uint8_t byte : page) sum += byte;
    return static_cast<std::uint8_t>(sum);
  }
};

TEST_F(SimATMUTest, TakesPagesWithTheirChecksumsAndStartsTheTaggedVersionAfterTheRestart) {
  std::string record = m_folder / "atmu.record";
  CSimATMU& device = PlugDescribed<CSimATMU>("atmu:firmware=105,page_code=0x51,record=" + record);
  std::unique_ptr<CStreamIO> io = OpenTransport();

  io->WriteByte(0x02);
  EXPECT_EQ(io->ReadString(), "ZA0815-2T 105");
  io->WriteByte(0x1E);
  io->WriteByte(0x3C);
  std::uint8_t info[5];
  io->Read(info, 5);
  EXPECT_EQ(Page(info, info + 5), (Page{0x00, 0x00, 0x00, 0x51, 0x21}));

  // The tag straddles pages 0 and 1 of 32 bytes.
  std::string tag = FirmwareVersionTag(312) + ";";
  Page flash(64, 0xFF);
  std::copy(tag.begin(), tag.end(), flash.begin() + 20);
  Page page0(flash.begin(), flash.begin() + 32);
  Page page1(flash.begin() + 32, flash.end());
  EXPECT_EQ(SendPage(*io, 0, page0, static_cast<std::uint8_t>(Sum(page0) + 1)), 'E') << "a wrong checksum";
  EXPECT_EQ(SendPage(*io, 0, page0, Sum(page0)), '!');
  EXPECT_EQ(SendPage(*io, 1, page1, Sum(page1)), '!');
  EXPECT_EQ(SendPage(*io, 3, page1, Sum(page1)), '!') << "taken, but a violation";
  const std::uint8_t restart[] = {0xFF, 0xFF};
  io->Write(restart, 2);

  ASSERT_TRUE(device.WaitForEndedDownloads(1, 10s));
  std::vector<CSimAtmuDownload> downloads = device.Downloads();
  ASSERT_EQ(downloads.size(), 1u);
  EXPECT_TRUE(downloads[0].Complete);
  EXPECT_EQ(downloads[0].Pages, (std::vector<CSimAtmuPage>{{0, page0}, {1, page1}, {3, page1}}));
  EXPECT_EQ(device.Violations(), std::vector<std::string>{"page 3 where page 2 was due"});
  EXPECT_EQ(device.FirmwareVersion(), 312);
  io->WriteByte(0x02);
  EXPECT_EQ(io->ReadString(), "ZA0815-2T 312");

  std::string hex0;
  for (std::uint8_t byte : page0) hex0 += FormatText("%02X", byte);
  std::string hex1;
  for (std::uint8_t byte : page1) hex1 += FormatText("%02X", byte);
  EXPECT_EQ(ReadWholeFile(record), "download pages 32\npage 0x0000 " + hex0 + "\npage 0x0001 " + hex1 +
                                       "\npage 0x0003 " + hex1 + "\nend complete\n");
}

TEST_F(SimATMUTest, APageBeyondTheFlashIsRefusedAndTheDownloadStaysIncomplete) {
  CSimATMU& device = PlugDescribed<CSimATMU>("atmu:firmware=105,page_code=0x5B");
  std::unique_ptr<CStreamIO> io = OpenTransport();
  io->WriteByte(0x1E);
  io->WriteByte(0x3C);
  std::uint8_t info[5];
  io->Read(info, 5);
  Page page(32768, 0x00);
  EXPECT_EQ(SendPage(*io, 4, page, 0), '?');  // 4 x 32 KiB lies beyond 128 KiB
  ASSERT_TRUE(device.WaitForEndedDownloads(1, 10s));
  EXPECT_FALSE(device.Downloads()[0].Complete);
  EXPECT_EQ(device.FirmwareVersion(), 105);
}

}  // namespace
