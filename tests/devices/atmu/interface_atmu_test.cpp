// The ATMU protocol object over a memory transport: the identity against the catalog entry's
// Id, byte for byte, with the bootloader's signed characters, and the version read from it.

#include "devices/atmu/interface_atmu.h"

#include "devices/downloads/download_fixture.h"
#include "platform/text_format.h"

namespace {

using CMemoryInterfaceATMU = CMemoryInterface<CInterfaceATMU>;

DeviceRecord Entry(const std::string& id) {
  DeviceRecord entry;
  entry.Id = id;
  entry.Name = "ATMU device";
  entry.UsbPid = 0xA7B0;
  return entry;
}

using InterfaceATMUTest = DownloadTest;

TEST_F(InterfaceATMUTest, IdentifyComparesNineCharactersOfTheIdAndNamesAnotherDevice) {
  struct Case {
    std::string id;        // of the catalog entry
    std::string identity;  // as the device sends it, without its 0 byte
    bool accepted;
    std::string shown;     // %1 of message 20007; empty: no message
    std::uint16_t version;  // when accepted
  };
  const Case cases[] = {
      {"ZA0815-2T", "ZA0815-2T 214", true, "", 214},
      {"ZA0815-2T", "ZA0815-2T", true, "", 0},  // nine characters exactly: no version
      {"ZA0815-2T-LONG", "ZA0815-2T 7", true, "", 7},  // only nine characters count
      {"ZA08", "ZA08", true, "", 0},
      {"ZA08", "ZA0815-2T 214", false, "ZA0815-2T 214", 0},  // a shorter Id matches only in full
      {"ZA0815-2T", "ZA0815-2 214", false, "ZA0815-2 214", 0},
      {"ZA0815-2T", "", false, "", 0},
      // The bootloader's bytes are signed characters: 0xE9 is U+FFE9, never "é".
      {"ZA0815-2\xC3\xA9", "ZA0815-2\xE9 1", false, "ZA0815-2\xEF\xBF\xA9 1", 0},
      {"ZA0815-2\xEF\xBF\xA9", "ZA0815-2\xE9 1", true, "", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.identity);
    CScriptedUserInterface ui;
    CMemoryInterfaceATMU device(Entry(c.id));
    device.memory->ReplyToNextWrite(c.identity + std::string(1, '\0'));

    EXPECT_EQ(device.Identify(), c.accepted);

    EXPECT_EQ(device.memory->written, Bytes{0x02});
    EXPECT_EQ(device.memory->clears, 0) << "no input is discarded";
    EXPECT_EQ(device.Identity(), c.identity);
    if (c.accepted) {
      EXPECT_EQ(CStreamDevice::ParseVersionAt(device.Identity(), CInterfaceATMU::kVersionIndex), c.version);
    }
    std::vector<std::string> messages;
    if (!c.shown.empty()) messages.push_back(FormatMessage(LoadResString(20007), {c.shown, c.id}));
    EXPECT_EQ(ui.MessageTexts(), messages);
  }
}

TEST(SignedDeviceTextTest, BytesFrom0x80AreTheCharactersFromUFF80) {
  EXPECT_EQ(SignedDeviceTextToUtf8("A\x7F"), "A\x7F");
  EXPECT_EQ(SignedDeviceTextToUtf8("\x80"), "\xEF\xBE\x80");  // U+FF80
  EXPECT_EQ(SignedDeviceTextToUtf8("\xFF"), "\xEF\xBF\xBF");  // U+FFFF
}

}  // namespace
