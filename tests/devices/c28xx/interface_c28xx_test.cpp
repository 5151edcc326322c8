#include "devices/c28xx/interface_c28xx.h"

#include "devices/downloads/download_fixture.h"
#include "platform/text_format.h"
#include "transport/stream_exception.h"

namespace {

DeviceRecord Entry(const std::string& id) {
  DeviceRecord entry;
  entry.Id = id;
  entry.Name = "C28xx DSP Unit";
  entry.UsbPid = 0x5503;
  return entry;
}

// The protocol object over a memory transport instead of USB.
class CMemoryInterfaceC28XX : public CInterfaceC28XX {
 public:
  explicit CMemoryInterfaceC28XX(const std::string& id) : CInterfaceC28XX(Entry(id)) {
    auto stream = std::make_unique<CMemoryStream>();
    stream->Open();
    memory = stream.get();
    m_stream = std::move(stream);
  }
  // Identifies a device that answers with these UTF-16 code units and the zero word.
  bool IdentifyAs(const std::u16string& identity) {
    std::string words;
    for (char16_t unit : identity + u'\0') {
      words += static_cast<char>(unit >> 8);
      words += static_cast<char>(unit & 0xFF);
    }
    memory->ReplyToNextWrite(words);
    return Identify();
  }

  CMemoryStream* memory;
};

using InterfaceC28XXTest = DownloadTest;

TEST_F(InterfaceC28XXTest, IdentifyComparesTheIdOverNineCharactersAndNamesAnotherDevice) {
  struct Case {
    std::u16string identity;
    std::string id;  // of the catalog entry
    bool accepted;
    std::string shown;  // the identity in message 20007; none when empty
  };
  const Case cases[] = {
      {u"ZT5503-1D 214", "ZT5503-1D", true, ""},
      {u"ZT5503-1D", "ZT5503-1D", true, ""},
      {u"ZT5503-1DX 214", "ZT5503-1D-REV2", true, ""},  // only nine characters count
      {u"ZT5503-1", "ZT5503-1D", false, "ZT5503-1"},    // shorter than the Id
      {u"ZT5503-1E 214", "ZT5503-1D", false, "ZT5503-1E 214"},
      {u"Zähler-ß€ 1", "ZT5503-1D", false, "Zähler-ß€ 1"},  // the characters as sent
      {u"", "ZT5503-1D", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown + " for " + c.id);
    CScriptedUserInterface ui;
    CMemoryInterfaceC28XX device(c.id);
    EXPECT_EQ(device.IdentifyAs(c.identity), c.accepted);
    EXPECT_EQ(device.memory->written, (Bytes{0x00, 0x02}));
    EXPECT_EQ(device.WideIdentity(), c.identity);
    std::vector<std::string> messages;
    if (!c.shown.empty()) messages.push_back(FormatMessage(LoadResString(20007), {c.shown, c.id}));
    EXPECT_EQ(ui.MessageTexts(), messages);
  }
}

TEST_F(InterfaceC28XXTest, TheVersionIsTheNumberFromCharacterTen) {
  struct Case {
    std::u16string identity;
    std::uint16_t version;
  };
  const Case cases[] = {
      {u"ZT5503-1D 0203", 203},
      {u"ZT5503-1D 214 build 7", 214},
      {u"ZT5503-1D X12", 0},  // a letter at index 10
      {u"ZT5503-1D ", 0},     // shorter than eleven characters
      {u"ZT5503-1D €12", 0},  // a character outside ASCII is no digit
      {u"ZT5503-€D 12", 12},  // and does not move the index
  };
  for (const Case& c : cases) {
    CMemoryInterfaceC28XX device(std::string("ZT5503-1D"));
    device.IdentifyAs(c.identity);
    EXPECT_EQ(device.FirmwareVersion(), c.version);
  }
}

TEST_F(InterfaceC28XXTest, AnIdentityWithoutEndIsRefusedBeforeItFillsTheMemory) {
  CMemoryInterfaceC28XX device("ZT5503-1D");
  device.memory->ReplyToNextWrite(std::string(2 * (CStreamIO::kMaxStringLength + 1), 'A'));
  try {
    device.Identify();
    FAIL() << "no exception";
  } catch (const CStreamException& error) {
    EXPECT_EQ(error.MessageId(), 20011);
  }
  EXPECT_EQ(device.WideIdentity().size(), CStreamIO::kMaxStringLength);
}

}  // namespace
