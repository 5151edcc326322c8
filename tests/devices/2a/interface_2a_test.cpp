#include "devices/2a/interface_2a.h"

#include <sys/stat.h>

#include <utility>

#include "devices/downloads/download_fixture.h"
#include "platform/text_format.h"

namespace {

using namespace image_test;

class CMemoryInterface2A : public CMemoryInterface<CInterface2A> {
 public:
  explicit CMemoryInterface2A(std::uint8_t expectedVariant) : CMemoryInterface(expectedVariant) {}
  // Identifies a device that answers with `identity` and then the variant byte.
  bool IdentifyAs(const std::string& identity, std::uint8_t variant) {
    memory->ReplyToNextWrite(identity + std::string(1, '\0'));
    memory->ReplyToNextWrite(std::string(1, static_cast<char>(variant)));
    return Identify();
  }
};

using Interface2ATest = DownloadTest;

TEST_F(Interface2ATest, IdentifyAcceptsTheModelCodeAndTheExpectedVariantOnly) {
  struct Case {
    std::string identity;
    std::uint8_t answer;    // to the variant command
    std::uint8_t expected;  // the updater's variant
    bool accepted;
    Bytes sent;
    bool wrongDevice;  // message 20007
  };
  const std::string model = "ZR6618-7D Quadrel 107";
  const Case cases[] = {
      {model, 3, 3, true, {0x02, 0x0B}, false},
      {model, 3, 1, false, {0x02, 0x0B}, false},
      {model, 2, 2, true, {0x02, 0x0B}, false},
      {model, '?', 1, true, {0x02, 0x0B}, false},  // an early device that does not know
      {model, '?', 3, false, {0x02, 0x0B}, false},
      {"ZR6618-7D", 1, 1, true, {0x02, 0x0B}, false},
      {"ZR6618-7", 1, 1, false, {0x02}, true},  // shorter than the model code
      {"ZQ1184-2B Interface", 1, 1, false, {0x02}, true},
      {"", 1, 1, false, {0x02}, false},
  };
  for (const Case& c : cases) {
    CScriptedUserInterface ui;
    CMemoryInterface2A device(c.expected);
    EXPECT_EQ(device.IdentifyAs(c.identity, c.answer), c.accepted) << c.identity << " " << int(c.answer);
    EXPECT_EQ(device.memory->written, c.sent) << c.identity;
    std::vector<std::string> messages;
    if (c.wrongDevice) messages.push_back(FormatMessage(LoadResString(20007), {c.identity, "ZR6618-7D"}));
    EXPECT_EQ(ui.MessageTexts(), messages) << c.identity;
  }
}

TEST_F(Interface2ATest, BinaryDownloadSendsPaddedBlocksToConsecutiveAddresses) {
  CMemoryInterface2A device(3);
  ASSERT_TRUE(device.IdentifyAs("ZR6618-7D Quadrel 107", 3));
  device.memory->packets.clear();
  device.memory->Answer(Bytes(6, CStreamIO::kAck));
  Bytes file = Counting(5000, 3);

  EXPECT_TRUE(device.ProgramBinary(m_folder.Write("fw.bin", std::string(file.begin(), file.end()))));

  Bytes first(file.begin(), file.begin() + 4096);
  Bytes second(file.begin() + 4096, file.end());
  second.resize(4096, 0xFF);  // erased flash, never stale bytes
  const std::vector<Bytes> expected = {
      {0x1D, 0x01},
      {0x1D, 0x02}, {0x08, 0x00, 0xC0, 0x00}, first,
      {0x1D, 0x02}, {0x08, 0x00, 0xD0, 0x00}, second,
      {0x12},
  };
  EXPECT_EQ(device.memory->packets, expected);
  EXPECT_TRUE(device.memory->input.empty()) << "every acknowledgement was read";
  EXPECT_EQ(Shown("animation-text"),
            (std::vector<std::string>{"Writing 4096 Bytes at 0x 800C000", "Writing 904 Bytes at 0x 800D000"}));
}

TEST_F(Interface2ATest, BinaryDownloadOfNothingOrToTheWrongVariant) {
  struct Case {
    const char* name;
    std::uint8_t variant;
    bool fileExists;
    bool result;
    std::vector<Bytes> packets;
  };
  const Case cases[] = {
      {"variant 2", 2, true, false, {}},
      {"missing file", 3, false, false, {}},
  };
  for (const Case& c : cases) {
    CScriptedUserInterface ui;
    CMemoryInterface2A device(c.variant);
    ASSERT_TRUE(device.IdentifyAs("ZR6618-7D Quadrel 107", c.variant));
    device.memory->packets.clear();
    device.memory->Answer(Bytes(2, CStreamIO::kAck));
    std::string path = c.fileExists ? m_folder.Write("fw.bin", "\x01") : (m_folder / "missing.bin");
    EXPECT_EQ(device.ProgramBinary(path), c.result) << c.name;
    EXPECT_EQ(device.memory->packets, c.packets) << c.name;
    EXPECT_TRUE(ui.MessageTexts().empty()) << c.name;
  }
}

// An empty file, a pipe, a device and a folder: refused, named, and nothing goes to the device.
TEST_F(Interface2ATest, BinaryFileThatCannotBeReadIsNeverSent) {
  const std::string pipe = m_folder / "pipe.bin";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const std::pair<std::string, std::string> cases[] = {
      {m_folder.Write("empty.bin", ""), "The file holds no data to send."},
      {pipe, "This is not a regular file"},
      {"/dev/zero", "This is not a regular file"},
      {m_folder.Path().string(), "This is not a regular file"},
  };
  for (const auto& [path, reason] : cases) {
    CScriptedUserInterface ui;
    CMemoryInterface2A device(3);
    ASSERT_TRUE(device.IdentifyAs("ZR6618-7D Quadrel 107", 3));
    device.memory->written.clear();
    EXPECT_FALSE(device.ProgramBinary(path)) << path;
    EXPECT_TRUE(device.memory->written.empty()) << path;
    ASSERT_EQ(ui.MessageTexts().size(), 1u) << path;
    EXPECT_NE(ui.MessageTexts()[0].find(path + ": " + reason), std::string::npos) << ui.MessageTexts()[0];
  }
}

}  // namespace
