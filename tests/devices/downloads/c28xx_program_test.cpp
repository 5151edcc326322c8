#include "devices/downloads/c28xx_program.h"

#include "devices/downloads/download_fixture.h"

namespace {

using namespace image_test;

class C28xxProgramTest : public DownloadTest {
 protected:
  // Word HEX: words 0x1234 0x5678 at 0x300000 (kind 1), the single word 0xBEEF at 0x304000
  // (kind 2, rounded up to two words), and a word at 0x330000, whose region is never sent.
  std::string TwoSegmentImage() {
    return m_folder.Write("fw16.hex", Lines({HexExtLinear(0x0030), HexData(0x0000, {0x34, 0x12, 0x78, 0x56}),
                                             HexData(0x4000, {0xEF, 0xBE}), HexExtLinear(0x0033),
                                             HexData(0x0000, {0x01, 0x02}), kHexEof}));
  }
  static bool Program(CStreamIO& stream, const std::string& path, bool singleByte) {
    CFlashUpdateC28XX download(&stream);
    return download.ProgramFile(path, singleByte);
  }
  // The device's answers, given once the start is over: the download drains whatever came
  // before and during the start, so they arrive with the program command.
  static void AnswerAfterStart(CMemoryStream& stream, const Bytes& answers) {
    stream.ReplyToNextWrite("");
    stream.ReplyToNextWrite(std::string(answers.begin(), answers.end()));
  }
  // The animation came up, and is gone again.
  void ExpectAnimationClosed(const CScriptedUserInterface& ui) {
    ASSERT_FALSE(ui.Record().empty());
    EXPECT_EQ(ui.Record().front().kind, "animation");
    EXPECT_EQ(ui.Record().back().kind, "animation-closed");
  }
};

TEST_F(C28xxProgramTest, SendsTheSegmentsOfKindOtherThanZeroInBothCommandForms) {
  struct Case {
    const char* name;
    bool singleByte;
    Bytes start, header, end;
    Bytes acknowledgement;  // to a segment header
  };
  const Case cases[] = {
      {"two-byte commands", false, {0x00, 0x1E}, {0x00, 0x1F, 0x00, 0x01, 0x00, 0x02}, {0x00, 0x21}, {0x00, 0x21}},
      {"single-byte commands", true, {0x1E}, {0x1F, 0x00, 0x01, 0x00, 0x02}, {0x21}, {0x21}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CVirtualClock clock;
    CClockScope scope(clock);
    CScriptedUserInterface ui;
    CMemoryStream stream;
    stream.Open();
    Bytes answers;
    const Bytes status{0x00, 0x00};
    for (const Bytes& answer : {status, c.acknowledgement, status, c.acknowledgement, status}) {
      answers.insert(answers.end(), answer.begin(), answer.end());
    }
    AnswerAfterStart(stream, answers);

    EXPECT_TRUE(Program(stream, TwoSegmentImage(), c.singleByte));

    const std::vector<Bytes> expected = {
        c.start,
        c.header,
        {0x00, 0x30, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01},
        {0x34, 0x12, 0x78, 0x56},  // low byte first, as in the file
        {0x00, 0x30, 0x40, 0x00, 0x00, 0x02, 0x00, 0x02},
        {0xEF, 0xBE, 0xFF, 0xFF},
        c.end,
    };
    EXPECT_EQ(stream.packets, expected);
    EXPECT_TRUE(stream.input.empty()) << "every answer was read";
    EXPECT_EQ(clock.Waits(), (std::vector<std::uint32_t>{2000, 1000, 1000, 1000}));
    std::vector<std::string> texts;
    for (const auto& shown : ui.Record()) {
      if (shown.kind == "animation-text") texts.push_back(shown.text);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"Loading data..", "Transmitting data"}));
    ExpectAnimationClosed(ui);
    EXPECT_TRUE(ui.MessageTexts().empty());
  }
}

TEST_F(C28xxProgramTest, DrainsWhatTheDeviceSaidBeforeAndDuringTheStart) {
  std::string path = m_folder.Write("fw16.hex", Lines({HexExtLinear(0x0030), HexData(0x0000, {0x01, 0x02}), kHexEof}));
  m_stream.Answer({0x99});             // left over from before
  m_stream.ReplyToNextWrite("\x55\x55");  // said while the bootloader starts
  // The statuses of the program header and the segment header, and the data's.
  m_stream.ReplyToNextWrite(std::string("\0\0\0\x21\0\0", 6));
  EXPECT_TRUE(Program(m_stream, path, false));
  EXPECT_TRUE(m_stream.input.empty());
}

// Each ends the download without the end command, and the person is told the link's own
// message once: why the update failed.
TEST_F(C28xxProgramTest, AnyFailureWhileSendingEndsItWithItsCauseAndWithoutTheEndCommand) {
  struct Case {
    const char* name;
    bool singleByte;
    Bytes answers;
  };
  const Case cases[] = {
      {"program header status 1", false, {0x00, 0x01}},
      {"segment header refused", false, {0x00, 0x00, 0x00, 0x3F}},
      // The single-byte form reads one byte, the 00 of a two-byte answer.
      {"two-byte acknowledgement to a single-byte command", true, {0x00, 0x00, 0x00, 0x21}},
      {"data status 5", false, {0x00, 0x00, 0x00, 0x21, 0x00, 0x05}},
      {"no answer after the first segment's data", false, {0x00, 0x00, 0x00, 0x21}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CScriptedUserInterface ui;
    CMemoryStream stream;
    stream.Open();
    AnswerAfterStart(stream, c.answers);
    EXPECT_FALSE(Program(stream, TwoSegmentImage(), c.singleByte));
    ASSERT_FALSE(stream.packets.empty());
    EXPECT_NE(stream.packets.back().back(), 0x21) << "the end command never went out";
    ASSERT_EQ(ui.MessageTexts().size(), 1u);
    EXPECT_FALSE(ui.MessageTexts()[0].empty());
    ExpectAnimationClosed(ui);
  }
}

TEST_F(C28xxProgramTest, AnImageThatDoesNotLoadWhollyIsNeverSent) {
  std::string badChecksum = HexData(0x0000, {0x01, 0x02});
  badChecksum.back() = badChecksum.back() == '0' ? '1' : '0';
  ExpectRefusedBeforeSending(
      {{"missing", "", "missing.hex"},
       {"bad checksum on line 2", Lines({HexExtLinear(0x0030), badChecksum, kHexEof}), "bad.hex:2"},
       // An odd byte count leaves a data byte to be read as the checksum.
       {"odd byte count", Lines({HexExtLinear(0x0030), HexData(0x0000, {0x01, 0x02, 0x03}), kHexEof}), "bad.hex:2"},
       {"beyond the table", Lines({HexExtLinear(0x0034), HexData(0x0000, {0x01, 0x02}), kHexEof}), "bad.hex:2"},
       {"below the table", Lines({HexExtLinear(0x002F), HexData(0xFFFE, {0x01, 0x02}), kHexEof}), "bad.hex:2"},
       // Nothing that would be written: the device would be told "done" with its flash as it was.
       {"a lone line end", "\n", "bad.hex:1: The line is empty"},
       {"cut short", Lines({HexExtLinear(0x0030), HexData(0x0000, {0x01, 0x02})}), "bad.hex:3: The file ends before"},
       {"blank line", Lines({HexExtLinear(0x0030), "", HexData(0x0000, {0x01, 0x02}), kHexEof}), "bad.hex:2: The line is empty"},
       {"only the end record", Lines({kHexEof}), "bad.hex: The file holds no data to send."},
       {"only where the flash is never written", Lines({HexExtLinear(0x0033), HexData(0x0000, {0x01, 0x02}), kHexEof}),
        "bad.hex: The file holds no data to send."},
       {"only erased words", Lines({HexExtLinear(0x0030), HexData(0x0010, {0xFF, 0xFF, 0xFF, 0xFF}), kHexEof}),
        "bad.hex: The file holds no data to send."}},
      ".hex", [](CMemoryStream& stream, const std::string& path) { return Program(stream, path, false); });
}

}  // namespace
