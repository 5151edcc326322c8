#include "image/hex_file_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/image_files.h"
#include "support/scripted_user_interface.h"

using namespace image_test;

namespace {

class HexFileReaderTest : public ::testing::Test {
 protected:
  // Loads `text` into a 1 MiB image, as the block downloads do.
  bool Load(const std::string& text) {
    m_path = m_folder.Write("image.hex", text);
    EXPECT_TRUE(m_reader.Open(m_path));
    EXPECT_TRUE(m_reader.AllocImage(CIntelHexFileReader::kImageSize));
    return m_reader.ReadImage();
  }
  std::vector<std::uint8_t> ImageAt(std::size_t offset, std::size_t count) const {
    const auto& image = m_reader.Image();
    return {image.begin() + static_cast<long>(offset), image.begin() + static_cast<long>(offset + count)};
  }
  std::size_t ProgrammedBytes() const {
    std::size_t count = 0;
    for (std::uint8_t b : m_reader.Image()) count += b != 0xFF;
    return count;
  }

  CTempFolder m_folder;
  CScriptedUserInterface m_ui;
  CIntelHexFileReader m_reader;
  std::string m_path;
};

// The same two records written with every line end the reader accepts.
struct LineEndCase {
  const char* name;
  std::string text;
};

class HexLineEndTest : public HexFileReaderTest, public ::testing::WithParamInterface<LineEndCase> {};

const std::string kRecordA = HexData(0x0100, {0x11, 0x22, 0x33});
const std::string kRecordB = HexData(0x0200, {0x44});

INSTANTIATE_TEST_SUITE_P(
    LineEnds, HexLineEndTest,
    ::testing::Values(LineEndCase{"LF", Lines({kRecordA, kRecordB, kHexEof})},
                      LineEndCase{"CRLF", Lines({kRecordA, kRecordB, kHexEof}, "\r\n")},
                      LineEndCase{"LastLineWithoutLF", Lines({kRecordA, kRecordB}) + kHexEof},
                      LineEndCase{"LastLineWithoutLFAfterCRLF", Lines({kRecordA, kRecordB}, "\r\n") + kHexEof},
                      LineEndCase{"CRInsideLine",
                                  kRecordA.substr(0, 5) + "\r" + kRecordA.substr(5) + "\n" + Lines({kRecordB, kHexEof})}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_P(HexLineEndTest, ReadsBothRecords) {
  EXPECT_TRUE(Load(GetParam().text));
  EXPECT_FALSE(m_reader.Failed());
  EXPECT_EQ(ImageAt(0x100, 3), (std::vector<std::uint8_t>{0x11, 0x22, 0x33}));
  EXPECT_EQ(ImageAt(0x200, 1), (std::vector<std::uint8_t>{0x44}));
  EXPECT_EQ(ProgrammedBytes(), 4u);
}

TEST_F(HexFileReaderTest, ExtendedAddressRecordsSetTheBase) {
  struct Case {
    std::string extended;
    std::uint32_t base;
  } cases[] = {
      {HexExtLinear(0x0001), 0x10000},   // type 04, data 00 01
      {HexExtSegment(0x1000), 0x10000},  // type 02, data 10 00
      {HexExtLinear(0x000F), 0xF0000},
      {HexExtSegment(0x0123), 0x1230},
  };
  for (const auto& c : cases) {
    CIntelHexFileReader reader;
    std::string text = Lines({c.extended, HexData(0x0000, {0xAB, 0xCD})});
    reader.OpenMemory(text, "mem.hex");
    ASSERT_TRUE(reader.ReadRecord()) << c.extended;
    EXPECT_EQ(reader.BaseAddress(), c.base) << c.extended;
    EXPECT_EQ(reader.RecordAddress(), c.base) << c.extended;
    EXPECT_EQ(reader.RecordLength(), 2u);
    EXPECT_EQ(reader.Data()[0], 0xAB);
    EXPECT_EQ(reader.Data()[1], 0xCD);
  }
}

TEST_F(HexFileReaderTest, RecordsAfterTheEndOfFileRecordAreStillRead) {
  EXPECT_TRUE(Load(Lines({HexData(0x10, {1}), kHexEof, HexData(0x20, {2}), kHexEof})));
  EXPECT_EQ(ImageAt(0x10, 1)[0], 1);
  EXPECT_EQ(ImageAt(0x20, 1)[0], 2);
}

// What editors and DOS tools leave behind the end-of-file record: white space and one end-of-file
// character (0x1A) end the data; other text there is still refused.
TEST_F(HexFileReaderTest, TailsBehindTheEndOfFileRecord) {
  const std::string body = Lines({HexData(0x10, {1}), kHexEof, HexData(0x20, {2}), kHexEof});
  const struct {
    const char* what;
    std::string text;
    int failedLine;  // 0: loads
  } cases[] = {
      {"DOS end-of-file character", body + "\x1A", 0},
      {"the same after CRLF lines", Lines({HexData(0x10, {1}), kHexEof, HexData(0x20, {2}), kHexEof}, "\r\n") + "\x1A", 0},
      {"end-of-file character with white space and a line end", body + " \x1A\t\r\n", 0},
      {"white space lines", body + "  \t\n\f\n", 0},
      {"end-of-file character on the end record's line", body.substr(0, body.size() - 1) + "\x1A", 0},
      {"text after the end-of-file character", body + "\x1Ax", 5},
      {"two end-of-file characters", body + "\x1A\x1A", 5},
      {"other text", body + "end\n", 5},
      {"white space before any end record", Lines({HexData(0x10, {1}), " ", HexData(0x20, {2}), kHexEof}), 2},
  };
  for (const auto& c : cases) {
    CIntelHexFileReader reader;
    reader.OpenMemory(c.text, "mem.hex");
    ASSERT_TRUE(reader.AllocImage(CIntelHexFileReader::kImageSize));
    EXPECT_EQ(reader.ReadImage(), c.failedLine == 0) << c.what;
    EXPECT_EQ(reader.LastError().Line(), c.failedLine) << c.what;
    if (c.failedLine == 0) {
      EXPECT_EQ(reader.Image()[0x20], 2) << c.what << ": the record after the end record";
    }
  }
}

TEST_F(HexFileReaderTest, StartAddressRecordsChangeNothing) {
  EXPECT_TRUE(Load(Lines({HexLine(3, 0, {0x12, 0x34, 0x56, 0x78}), HexLine(5, 0, {0, 0, 0x80, 0}),
                          HexData(0x10, {7}), kHexEof})));
  EXPECT_EQ(m_reader.BaseAddress(), 0u);
  EXPECT_EQ(ImageAt(0x10, 1)[0], 7);
  EXPECT_EQ(ProgrammedBytes(), 1u);
}

// A file cut short, by its end or by an empty line, before the end-of-file record is only a part
// of an image: it fails on the line where it stops, and nothing after an empty line is read.
TEST_F(HexFileReaderTest, AFileThatStopsBeforeItsEndRecordFails) {
  const std::string kEnded = "The file ends before its end-of-file record: the image is incomplete.";
  const std::string kBlank = "The line is empty, but the end-of-file record has not come yet.";
  const struct {
    const char* what;
    std::string text;
    int line;
    std::string reason;
  } cases[] = {
      {"an empty file", "", 1, kEnded},
      {"no end record", Lines({HexData(0x10, {1}), HexData(0x20, {2})}), 3, kEnded},
      {"no end record, last line without LF", HexData(0x10, {1}) + "\n" + HexData(0x20, {2}), 3, kEnded},
      {"cut inside the end record", Lines({HexData(0x10, {1})}) + ":00000001", 2,
       "The checksum of the record is wrong."},
      {"a blank line", Lines({HexData(0x10, {1}), "", HexData(0x20, {2}), kHexEof}), 2, kBlank},
      {"a blank CRLF line", Lines({HexData(0x10, {1}), "", HexData(0x20, {2}), kHexEof}, "\r\n"), 2, kBlank},
      {"a line of CR bytes", HexData(0x10, {1}) + "\n\r\r\n" + Lines({HexData(0x20, {2}), kHexEof}), 2, kBlank},
      {"the end character before the end record", Lines({HexData(0x10, {1}), "\x1A", kHexEof}), 2,
       "The line does not begin with \":\"."},
  };
  for (const auto& c : cases) {
    CIntelHexFileReader reader;
    reader.OpenMemory(c.text, "mem.hex");
    ASSERT_TRUE(reader.AllocImage(CIntelHexFileReader::kImageSize));
    EXPECT_FALSE(reader.ReadImage()) << c.what;
    EXPECT_EQ(reader.LastError().Message(), "mem.hex:" + std::to_string(c.line) + ": " + c.reason) << c.what;
    if (c.reason == kBlank) {
      EXPECT_EQ(reader.Image()[0x20], 0xFF) << c.what << ": nothing after the line is read";
    }
  }
}

TEST_F(HexFileReaderTest, ABlankLineAfterTheEndRecordEndsTheData) {
  for (const std::string& blank : {std::string("\n"), std::string("\r\n"), std::string("\r\r\n")}) {
    CIntelHexFileReader reader;
    std::string text = Lines({HexData(0x10, {1}), kHexEof}) + blank + HexData(0x20, {2}) + "\n";
    reader.OpenMemory(text, "mem.hex");
    ASSERT_TRUE(reader.AllocImage(CIntelHexFileReader::kImageSize));
    EXPECT_TRUE(reader.ReadImage());
    EXPECT_FALSE(reader.Failed());
    EXPECT_EQ(reader.Image()[0x10], 1);
    EXPECT_EQ(reader.Image()[0x20], 0xFF) << "records after a blank line are not read";
    EXPECT_EQ(reader.LineCount(), 3);
  }
}

TEST_F(HexFileReaderTest, CharactersThatAreNoHexDigitsCountAsZero) {
  // Data byte "Z7" is 0x07, "gg" is 0x00; lower-case digits are digits.
  EXPECT_TRUE(Load(Lines({":02001000Z7gg" + std::string("E7"), ":01002000429d", kHexEof})));
  EXPECT_EQ(ImageAt(0x10, 2), (std::vector<std::uint8_t>{0x07, 0x00}));
  EXPECT_EQ(ImageAt(0x20, 1)[0], 0x42);
}

TEST_F(HexFileReaderTest, HexByteReadsTwoCharactersHighNibbleFirst) {
  struct Case {
    const char* text;
    std::uint8_t value;
  } cases[] = {{"00", 0x00}, {"7F", 0x7F}, {"a5", 0xA5}, {"Ff", 0xFF}, {"G1", 0x01},
               {"1G", 0x10}, {"  ", 0x00}, {"-9", 0x09}, {"9", 0x90}, {"", 0x00}};
  for (const auto& c : cases) {
    CIntelHexFileReader reader;
    std::string text = std::string(":") + c.text + "\n";
    reader.OpenMemory(text, "mem.hex");
    reader.ReadRecord();  // fills the line buffer; the record itself does not matter here
    std::size_t cursor = 1;
    EXPECT_EQ(reader.HexByte(cursor), c.value) << c.text;
    EXPECT_EQ(cursor, 3u);
    EXPECT_EQ(reader.HexByte(cursor), 0) << "past the end of the line";
  }
}

TEST_F(HexFileReaderTest, ALineThatFillsTheLineBufferIsRead) {
  std::string line = HexData(0x10, {0x5A});
  line.append(CHexFileReader::kLineBufferSize - 1 - line.size(), 'x');  // ignored after the checksum
  EXPECT_TRUE(Load(line + "\r\n" + kHexEof));
  EXPECT_EQ(ImageAt(0x10, 1)[0], 0x5A);
}

// Every reason a load stops early: a failure on the named line, and nothing of that line or
// the lines after it in the image.
struct RefusalCase {
  const char* name;
  std::string text;
  int line;
  std::string reason;
};

class HexRefusalTest : public HexFileReaderTest, public ::testing::WithParamInterface<RefusalCase> {};

std::string TooLongLine() {
  std::string line = HexData(0x30, {0x5A});
  line.append(CHexFileReader::kLineBufferSize - line.size(), 'x');
  return line;
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, HexRefusalTest,
    ::testing::Values(
        RefusalCase{"NoColon", Lines({HexData(0x10, {1}), "0100300042BD", HexData(0x40, {3})}), 2,
                    "The line does not begin with \":\"."},
        RefusalCase{"LeadingBlank", Lines({HexData(0x10, {1}), " " + HexData(0x30, {2})}), 2,
                    "The line does not begin with \":\"."},
        RefusalCase{"Checksum", Lines({HexData(0x10, {1}), kHexEof, ":0100300042BE", HexData(0x40, {3})}), 3,
                    "The checksum of the record is wrong."},
        RefusalCase{"LineCutShort", Lines({HexData(0x10, {1}), ":1000300001020304"}), 2,
                    "The checksum of the record is wrong."},
        RefusalCase{"RecordType6", Lines({HexData(0x10, {1}), HexLine(6, 0x30, {2})}), 2,
                    "The record type 06 is unknown."},
        RefusalCase{"RecordTypeFF", Lines({HexData(0x10, {1}), HexLine(0xFF, 0x30, {})}), 2,
                    "The record type FF is unknown."},
        RefusalCase{"LineTooLong", Lines({HexData(0x10, {1}), TooLongLine(), HexData(0x40, {3})}), 2,
                    "The line is longer than 1023 characters."},
        RefusalCase{"AboveTheImage", Lines({HexData(0x10, {1}), HexExtLinear(0x0010), HexData(0x30, {2})}), 3,
                    "The data record at 0x100030 with 1 bytes lies outside the image of 0x100000 bytes."},
        RefusalCase{"AcrossTheImageEnd",
                    Lines({HexData(0x10, {1}), HexExtLinear(0x000F), HexData(0xFFFF, {2, 3})}), 3,
                    "The data record at 0xFFFFF with 2 bytes lies outside the image of 0x100000 bytes."},
        RefusalCase{"FarAboveTheImage", Lines({HexData(0x10, {1}), HexExtLinear(0xFFFF), HexData(0xFFF0, Bytes(16, 2))}),
                    3, "The data record at 0xFFFFFFF0 with 16 bytes lies outside the image of 0x100000 bytes."}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_P(HexRefusalTest, FailsOnTheLineAndKeepsNothingOfItOrAfterIt) {
  EXPECT_FALSE(Load(GetParam().text));
  EXPECT_TRUE(m_reader.Failed());
  EXPECT_EQ(m_reader.LastError().File(), m_path);
  EXPECT_EQ(m_reader.LastError().Line(), GetParam().line);
  EXPECT_EQ(m_reader.LastError().Reason(), GetParam().reason);
  EXPECT_EQ(m_reader.LastError().Message(),
            m_path + ":" + std::to_string(GetParam().line) + ": " + GetParam().reason);
  EXPECT_EQ(ImageAt(0x10, 1)[0], 1);
  EXPECT_EQ(ProgrammedBytes(), 1u) << "only the first record is in the image";
  EXPECT_FALSE(m_reader.ReadRecord()) << "a failed reader reads nothing more";
  EXPECT_TRUE(m_ui.Record().empty()) << "the reader itself shows nothing";
}

TEST_F(HexFileReaderTest, ReadRecordWalksTheRecordsAndCountsEveryLine) {
  std::string text = Lines({HexExtLinear(0x0002), HexData(0x1234, {9, 8, 7}), kHexEof, HexData(0x0000, {})});
  m_reader.OpenMemory(text, "mem.hex");
  ASSERT_TRUE(m_reader.ReadRecord());
  EXPECT_EQ(m_reader.RecordAddress(), 0x21234u);
  EXPECT_EQ(m_reader.RecordLength(), 3u);
  EXPECT_EQ(m_reader.LineCount(), 2);
  ASSERT_TRUE(m_reader.ReadRecord());
  EXPECT_EQ(m_reader.RecordAddress(), 0x20000u);
  EXPECT_EQ(m_reader.RecordLength(), 0u);
  EXPECT_EQ(m_reader.LineCount(), 4);
  EXPECT_FALSE(m_reader.ReadRecord());
  EXPECT_FALSE(m_reader.Failed());
  EXPECT_EQ(m_reader.LineCount(), 5) << "the end of the file reads as one more, empty line";
}

TEST_F(HexFileReaderTest, AReadErrorFailsOnTheLineItHappenedIn) {
  // A regular file whose every read at offset 0 fails.
  ASSERT_TRUE(m_reader.Open("/proc/self/mem"));
  ASSERT_TRUE(m_reader.AllocImage(CIntelHexFileReader::kImageSize));
  EXPECT_FALSE(m_reader.ReadImage());
  EXPECT_EQ(m_reader.LastError().Message(), "/proc/self/mem:1: The file could not be read: Input/output error");
}

TEST_F(HexFileReaderTest, AFileThatCannotBeOpened) {
  std::string missing = m_folder / "missing.hex";
  EXPECT_FALSE(m_reader.Open(missing));
  EXPECT_TRUE(m_ui.Record().empty()) << "Open shows nothing";
  EXPECT_TRUE(m_reader.Failed());
  EXPECT_EQ(m_reader.LastError().Message(),
            missing + ": The file could not be opened: No such file or directory");
  EXPECT_FALSE(m_reader.ReadRecord());

  EXPECT_FALSE(m_reader.OpenFile(missing));
  ASSERT_EQ(m_ui.MessageTexts().size(), 1u);
  EXPECT_EQ(m_ui.MessageTexts()[0], missing +
                                        "\nCannot find this file.\nPlease verify that the correct "
                                        "path and file name are given.");
  EXPECT_EQ(m_ui.Record()[0].style, MB_OK | MB_ICONERROR);
}

TEST_F(HexFileReaderTest, AFileWithoutReadPermissionShowsTheSystemText) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  std::string path = m_folder.Write("locked.hex", kHexEof);
  std::filesystem::permissions(path, std::filesystem::perms::none);
  EXPECT_FALSE(m_reader.OpenFile(path));
  ASSERT_EQ(m_ui.MessageTexts().size(), 1u);
  EXPECT_EQ(m_ui.MessageTexts()[0], path + "\nThe file could not be opened.\nPermission denied");
}

TEST_F(HexFileReaderTest, AFileOfAMegabyteLoadsWhole) {
  std::string text;
  std::vector<std::uint8_t> expected(CIntelHexFileReader::kImageSize);
  for (std::uint32_t address = 0; address < CIntelHexFileReader::kImageSize; address += 32) {
    if (address % 0x10000 == 0) text += HexExtLinear(address >> 16) + "\r\n";
    std::vector<std::uint8_t> data = Counting(32, static_cast<std::uint8_t>(address >> 5));
    std::copy(data.begin(), data.end(), expected.begin() + address);
    text += HexData(address & 0xFFFF, data) + "\r\n";
  }
  text += kHexEof + "\r\n";
  EXPECT_TRUE(Load(text));
  EXPECT_EQ(m_reader.Image(), expected);
}

}  // namespace
