#include <string>

#include "devices/servo/drive_script.h"

namespace {

using DriveMessagesTest = DriveTest;

TEST_F(DriveMessagesTest, ReadingCode150AsksForObject5F69) {
  m_script.CodeValue32(150, 0, 0x80);
  int value = -1;
  ASSERT_TRUE(m_drive.ReadCodeValueInt(150, 0, value));
  EXPECT_EQ(value, 0x80);
  ASSERT_EQ(Frames().size(), 1u);
  EXPECT_EQ(Frames()[0].Identifier, 0x601);
  EXPECT_EQ(Frames()[0].Length, 4);
  EXPECT_EQ(Frames()[0].Data, (Bytes{0x40, 0x69, 0x5F, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(LogText(), "");
}

TEST_F(DriveMessagesTest, ExpeditedAnswersGiveTheirValueZeroExtended) {
  struct Case {
    Bytes answer;  // d0 and d4.. of the drive's frame
    int value;
  };
  const Case cases[] = {
      {{0x4F, 0x2A, 0xFF, 0xFF, 0xFF}, 42},      // one byte; the others carry nothing
      {{0x4B, 0x34, 0x12, 0xFF, 0xFF}, 0x1234},  // two bytes
      {{0x43, 0x78, 0x56, 0x34, 0x12}, 0x12345678},
      {{0x43, 0xFF, 0xFF, 0xFF, 0xFF}, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    Bytes frame = CDriveScript::Object(c.answer[0], gci::CodeObjectIndex(99), 1);
    frame.insert(frame.end(), c.answer.begin() + 1, c.answer.end());
    m_script.Exchange(frame);
    int value = 7;
    EXPECT_TRUE(m_drive.ReadCodeValueInt(99, 1, value));
    EXPECT_EQ(value, c.value);
  }
  EXPECT_EQ(LogText(), "");
}

TEST_F(DriveMessagesTest, AnswersThatDoNotFitTheReadFailWithItsText) {
  const std::uint16_t index = gci::CodeObjectIndex(99);
  struct Case {
    const char* name;
    std::function<void(CDriveScript&)> drive;
  };
  const Case cases[] = {
      {"frame refused", [](CDriveScript& s) { s.Refuse(); }},
      {"no answer",
       [](CDriveScript& s) {
         s.Accept();
         s.NoFrame();
       }},
      {"another object", [](CDriveScript& s) { s.Exchange(CDriveScript::Object(0x43, gci::CodeObjectIndex(98), 0)); }},
      {"another subindex", [&](CDriveScript& s) { s.Exchange(CDriveScript::Object(0x43, index, 1)); }},
      {"three bytes", [&](CDriveScript& s) { s.Exchange(CDriveScript::Object(0x47, index, 0)); }},
      {"expedited without size", [&](CDriveScript& s) { s.Exchange(CDriveScript::Object(0x42, index, 0)); }},
      {"abort", [&](CDriveScript& s) { s.Exchange(CDriveScript::Object(0x80, index, 0)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CDownloadLog log;
    CMemoryInterface<CDrive> drive(log);
    drive.InstallGci();
    CDriveScript script(*drive.memory);
    c.drive(script);
    int value = 5;
    EXPECT_FALSE(drive.ReadCodeValueInt(99, 0, value));
    EXPECT_EQ(value, 5);
    EXPECT_EQ(log.Text(), "ReadCodeValueInt failed.");
    EXPECT_TRUE(drive.memory->input.empty());
  }
}

TEST_F(DriveMessagesTest, WritingCode514Subindex6IsOneExpeditedFrameConfirmedBy60) {
  m_script.Exchange({0x60, 0xFD, 0x5D, 0x06});
  EXPECT_TRUE(m_drive.WriteCodeValueInt(514, 6, 23));
  ASSERT_EQ(Frames().size(), 1u);
  EXPECT_EQ(Frames()[0].Length, 8);
  EXPECT_EQ(Frames()[0].Data, (Bytes{0x23, 0xFD, 0x5D, 0x06, 0x17, 0x00, 0x00, 0x00}));
  EXPECT_EQ(LogText(), "");

  m_script.Accept();
  m_script.NoFrame();
  EXPECT_FALSE(m_drive.WriteCodeValueInt(514, 6, 23));
  EXPECT_EQ(LogText(), "WriteCodeValueInt failed.");
}

TEST_F(DriveMessagesTest, CommandStatusIsPolledWhileItReadsTwo) {
  for (std::uint32_t status : {2u, 2u, 0u}) m_script.CodeValue32(515, 0, status);
  int value = 9;
  ASSERT_TRUE(m_drive.ReadCodeValueInt(515, 0, value));
  EXPECT_EQ(value, 0);
  EXPECT_EQ(Frames().size(), 3u);
  for (const SentFrame& frame : Frames()) EXPECT_EQ(frame.Valid(), (Bytes{0x40, 0xFC, 0x5D, 0x00}));
  EXPECT_TRUE(Memory().input.empty());

  // A drive that breaks off the transfer ends the poll with the value as it stands.
  m_script.CodeValue32(515, 0, 2);
  m_script.Exchange(CDriveScript::Object(0x80, gci::CodeObjectIndex(515), 0));
  EXPECT_FALSE(m_drive.ReadCodeValueInt(515, 0, value));
  EXPECT_EQ(value, 2);
  EXPECT_EQ(LogText(), "ReadCodeValueInt failed.");
}

// Time that moves on by a minute whenever it is asked.
class CRunningClock : public IClock {
 public:
  void Sleep(std::uint32_t) override {}
  std::uint64_t TickCount() override { return m_now += 60 * 1000; }

 private:
  std::uint64_t m_now = 0;
};

TEST_F(DriveMessagesTest, ACommandThatRunsForeverDoesNotHoldTheProgram) {
  CRunningClock clock;
  CClockScope scope(clock);
  for (int i = 0; i < 20; ++i) m_script.CodeValue32(515, 0, 2);
  int value = 0;
  EXPECT_FALSE(m_drive.ReadCodeValueInt(515, 0, value));
  EXPECT_EQ(value, 2);
  EXPECT_EQ(Frames().size(), 11u) << "polls until more than ten minutes have passed";
  EXPECT_EQ(LogText(), "ReadCodeValueInt failed.");
}

TEST_F(DriveMessagesTest, StringValuesArriveInToggledSegmentsAndAreCutToTheBuffer) {
  struct Case {
    const char* name;
    std::string sent;
    long total;  // the size the drive names; -1: the text's
    std::string value;
    std::size_t segments;
  };
  const std::string longText(300, 'x');
  const Case cases[] = {
      {"two segments", "E94AYCIA 3.1", -1, "E94AYCIA 3.1", 2},
      {"with its zero", std::string("ab\0", 3), -1, "ab", 1},
      {"size not told", "one", 0, "one", 1},  // exactly one segment is asked for
      {"longer than the buffer", longText, -1, std::string(CDrive::kMaxStringValue, 'x'), 43},
      {"empty", "", -1, "", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Memory().packets.clear();
    m_script.SegmentedUpload(gci::CodeObjectIndex(203), 5, Bytes(c.sent.begin(), c.sent.end()), c.total);
    std::string value = "old";
    ASSERT_TRUE(m_drive.ReadCodeValueString(203, 5, value));
    EXPECT_EQ(value, c.value);
    std::vector<SentFrame> frames = Frames();
    ASSERT_EQ(frames.size(), 1 + c.segments);
    EXPECT_EQ(frames[0].Valid(), (Bytes{0x40, 0x34, 0x5F, 0x05}));
    for (std::size_t i = 1; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i].Valid(), (Bytes{static_cast<std::uint8_t>(i % 2 == 1 ? 0x60 : 0x70)})) << i;
    }
    EXPECT_TRUE(Memory().input.empty());
  }
  // A value that arrives in one frame holds no characters.
  m_script.CodeValue32(99, 0, 0x41414141);
  std::string value = "old";
  ASSERT_TRUE(m_drive.ReadCodeValueString(99, 0, value));
  EXPECT_EQ(value, "");
  EXPECT_EQ(LogText(), "");
}

TEST_F(DriveMessagesTest, AnUploadThatWouldPassTheAnswerBufferIsRefused) {
  // The size named is larger than any answer: no segment is asked for.
  m_script.Exchange({0x41, 0x34, 0x5F, 0x05, 0x1D, 0x04, 0x00, 0x00});  // 1053 bytes
  std::string value = "old";
  EXPECT_FALSE(m_drive.ReadCodeValueString(203, 5, value));
  EXPECT_EQ(Frames().size(), 1u);
  EXPECT_EQ(value, "old");

  // The size named fits, but the segments go on past it without an end.
  m_script.Exchange({0x41, 0x34, 0x5F, 0x05, 0x1C, 0x04, 0x00, 0x00});  // 1052 bytes
  for (int i = 0; i < 151; ++i) m_script.Exchange({static_cast<std::uint8_t>(i % 2 == 0 ? 0x00 : 0x10), 1, 2, 3, 4, 5, 6, 7});
  EXPECT_FALSE(m_drive.ReadCodeValueString(203, 5, value));
  EXPECT_EQ(value, "old");
  EXPECT_TRUE(Memory().input.empty()) << "the 151st segment is the one that does not fit";
  EXPECT_EQ(LogText(), "ReadCodeValueString failed.\nReadCodeValueString failed.");

  // Segments that never end and carry nothing stop too.
  m_script.Exchange({0x41, 0x34, 0x5F, 0x05, 0x10, 0x00, 0x00, 0x00});
  for (std::size_t i = 0; i < CObjectTransfer::kMaxUpload; ++i) m_script.Exchange({0x0E});
  EXPECT_FALSE(m_drive.ReadCodeValueString(203, 5, value));
  EXPECT_TRUE(Memory().input.empty());
}

TEST_F(DriveMessagesTest, SegmentSizeRequestGoesBySegmentedDownload) {
  m_script.Request(gci::kGetSegmentSize, 28, Message({.Type = gci::kGetSegmentSize, .Parameters = {0, 0, 512, 0}}));
  std::uint32_t size = 1;
  ASSERT_TRUE(m_drive.GetSegmentSize(size));
  EXPECT_EQ(size, 512u);
  const std::vector<SentFrame> frames = Frames();
  ASSERT_EQ(frames.size(), 1u + 4 + 1 + 4);
  EXPECT_EQ(frames[0].Valid(), (Bytes{0x21, 0x89, 0x21, 0x00, 0x1C, 0x00, 0x00, 0x00}));
  Bytes segmentCommands;
  for (std::size_t i = 1; i <= 4; ++i) {
    EXPECT_EQ(frames[i].Length, 8);
    segmentCommands.push_back(frames[i].Data[0]);
  }
  EXPECT_EQ(segmentCommands, (Bytes{0x00, 0x10, 0x00, 0x11}));
  // Then the answer is asked for on the message channel.
  EXPECT_EQ(frames[5].Valid(), (Bytes{0x40, 0x89, 0x21, 0x00}));
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0], Message({.Type = gci::kGetSegmentSize, .Parameters = {3, 0, 0, 0}}));
  EXPECT_EQ(LogText(), "");
}

TEST_F(DriveMessagesTest, SegmentedDownloadStopsWhenASegmentIsNotAnsweredWithItsToggle) {
  m_script.Exchange(CDriveScript::Object(0x60, gci::kMessageChannelIndex, 0));
  m_script.Exchange({0x20});
  m_script.Exchange({0x20});  // the second segment wants 0x30
  std::uint32_t size = 1;
  EXPECT_FALSE(m_drive.GetSegmentSize(size));
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(Frames().size(), 3u);
  EXPECT_EQ(LogText(), "GetSegmentSize failed.");
}

struct BlockCase {
  const char* name;
  std::string fileName;  // of an open request; empty: a close request
  std::vector<std::uint8_t> commands;  // d0 of the segments
  std::vector<std::uint8_t> lengths;   // their frame lengths
  std::uint8_t end;
};

TEST_F(DriveMessagesTest, BlockDownloadSendsSequenceNumbersAndEndsWithTheCrc) {
  const BlockCase cases[] = {
      {"28 bytes", "", {1, 2, 3, 0x84}, {8, 8, 8, 8}, 0xC1},
      {"30 bytes", "A", {1, 2, 3, 4, 0x85}, {8, 8, 8, 8, 3}, 0xD5},
  };
  for (const BlockCase& c : cases) {
    SCOPED_TRACE(c.name);
    Memory().packets.clear();
    const bool open = !c.fileName.empty();
    const std::size_t size = open ? 28 + c.fileName.size() + 1 : 28;
    m_script.Request(open ? gci::kOpenFile : gci::kCloseFile, size,
                     Message({.Type = open ? gci::kOpenFile : gci::kCloseFile, .Parameters = {0, 0, 9, 0}}));
    std::uint32_t handle = 0;
    ASSERT_TRUE(open ? m_drive.OpenTransferFile(c.fileName, true, handle) : m_drive.CloseTransferFile(4));
    const std::vector<SentFrame> frames = Frames();
    ASSERT_EQ(frames.size(), 1 + c.commands.size() + 1 + 1 + 4);
    EXPECT_EQ(frames[0].Valid(), (Bytes{0xC6, 0x89, 0x21, 0x00, static_cast<std::uint8_t>(size), 0, 0, 0}));
    for (std::size_t i = 0; i < c.commands.size(); ++i) {
      EXPECT_EQ(frames[1 + i].Data[0], c.commands[i]) << i;
      EXPECT_EQ(frames[1 + i].Length, c.lengths[i]) << i;
    }
    const SentFrame& end = frames[1 + c.commands.size()];
    ASSERT_EQ(Messages().size(), 1u);
    const std::uint16_t crc = gci::Crc16(Messages()[0]);
    EXPECT_EQ(end.Valid(), (Bytes{c.end, static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8), 0, 0, 0, 0, 0}));
    EXPECT_EQ(Messages()[0].size(), size);
    if (open) {
      EXPECT_EQ(handle, 9u);
    }
  }
  EXPECT_EQ(LogText(), "");
}

TEST(GciCrc, IsCcittFalse) {
  const std::string digits = "123456789";
  EXPECT_EQ(gci::Crc16(Bytes(digits.begin(), digits.end())), 0x29B1);
  EXPECT_EQ(gci::Crc16(Bytes{}), gci::kCrcInitialValue);
  EXPECT_EQ(gci::kCrcInitialValue, 0xFFFF);
}

TEST_F(DriveMessagesTest, BlockDownloadWaitsForEveryBlockOfTheDrivesSize) {
  m_script.BlockDownload(28, 3);  // acknowledgements after 3 and after the 4th (last) segment
  m_script.SegmentedUpload(gci::kMessageChannelIndex, 0, Message({.Type = gci::kCloseFile}));
  ASSERT_TRUE(m_drive.CloseTransferFile(4));
  Bytes commands;
  for (const SentFrame& frame : Frames()) commands.push_back(frame.Data[0]);
  EXPECT_EQ(Bytes(commands.begin(), commands.begin() + 6), (Bytes{0xC6, 1, 2, 3, 0x81, 0xC1}));
  EXPECT_EQ(LogText(), "");
}

TEST_F(DriveMessagesTest, BlockDownloadStopsOnAnAnswerThatDoesNotFit) {
  const Bytes consent = CDriveScript::Object(0xA4, gci::kMessageChannelIndex, 0);
  struct Case {
    const char* name;
    std::function<void(CDriveScript&)> drive;
    std::size_t framesSent;
  };
  auto consentWith = [&](std::uint8_t blockSize) {
    Bytes answer = consent;
    answer.push_back(blockSize);
    return answer;
  };
  const Case cases[] = {
      {"block size 0", [&](CDriveScript& s) { s.Exchange(consentWith(0)); }, 1},
      {"block size 128", [&](CDriveScript& s) { s.Exchange(consentWith(128)); }, 1},
      {"no consent", [&](CDriveScript& s) { s.Exchange({0x80, 0x89, 0x21, 0x00, 127}); }, 1},
      {"another object", [&](CDriveScript& s) { s.Exchange({0xA4, 0x89, 0x21, 0x01, 127}); }, 1},
      {"wrong sequence acknowledged",
       [&](CDriveScript& s) {
         s.Exchange(consentWith(127));
         for (int i = 0; i < 4; ++i) s.Accept();
         s.Frame({0xA2, 3, 127});
       },
       5},
      {"end not confirmed",
       [&](CDriveScript& s) {
         s.Exchange(consentWith(127));
         for (int i = 0; i < 4; ++i) s.Accept();
         s.Frame({0xA2, 4, 127});
         s.Exchange({0xA0, 0x89, 0x21, 0x00});
       },
       6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CDownloadLog log;
    CMemoryInterface<CDrive> drive(log);
    drive.InstallGci();
    CDriveScript script(*drive.memory);
    c.drive(script);
    EXPECT_FALSE(drive.CloseTransferFile(4));
    EXPECT_EQ(SentFrames(*drive.memory).size(), c.framesSent);
    EXPECT_EQ(log.Text(), "Close file failed.");
    EXPECT_TRUE(drive.memory->input.empty());
  }
}

TEST_F(DriveMessagesTest, AnswersOfTheDriveAreCheckedBeforeTheirFieldsAreUsed) {
  struct Case {
    const char* name;
    Bytes answer;
    bool exchanged;        // false: the exchange failed
    std::uint32_t result;  // the segment size afterwards (preset 1)
  };
  Bytes shortLength = Message({.Parameters = {0, 0, 77, 0}, .Payload = {1, 2}});
  shortLength[4] = 40;  // claims 20 payload bytes where 2 are
  const Case cases[] = {
      {"success", Message({.Parameters = {0, 0, 77, 0}}), true, 77},
      {"status", Message({.Status = 3, .Parameters = {0, 0, 77, 0}}), true, 1},
      {"error flag", Message({.Parameters = {0, 0, 77, 0}, .Flags = gci::kErrorFlag}), true, 1},
      {"marker", Message({.Parameters = {0, 0, 77, 0}, .Marker = 2}), true, 1},
      {"shorter than a header", Bytes(20, 1), false, 1},
      {"payload claimed", shortLength, false, 1},
      {"larger than the buffer", Message({.Parameters = {0, 0, 77, 0}, .Payload = Bytes(1000, 0)}), false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CDownloadLog log;
    CMemoryInterface<CDrive> drive(log);
    drive.InstallGci();
    CDriveScript(*drive.memory).Request(gci::kGetSegmentSize, 28, c.answer);
    std::uint32_t size = 1;
    EXPECT_EQ(drive.GetSegmentSize(size), c.exchanged);
    EXPECT_EQ(size, c.result);
    EXPECT_EQ(log.Text(), c.exchanged ? "" : "GetSegmentSize failed.");
  }
}

// Requests answered with an error keep their slot; every slot taken, nothing more is sent.
TEST_F(DriveMessagesTest, HandleTableHasTwoHundredFiftySixSlotsAndBuiltAnswersFreeTheCountersSlot) {
  for (int slot = 0; slot < 255; ++slot) {
    m_script.Request(gci::kGetSegmentSize, 28,
                     Message({.Handle = static_cast<std::uint8_t>(slot), .Status = 1}));
    std::uint32_t size = 0;
    ASSERT_TRUE(m_drive.GetSegmentSize(size));
  }
  std::vector<Bytes> messages = Messages();
  ASSERT_EQ(messages.size(), 255u);
  for (std::size_t slot = 0; slot < messages.size(); ++slot) EXPECT_EQ(messages[slot][3], slot);

  // The last slot goes to a code value; its built answer carries the counter, 0, and frees
  // slot 0, not its own.
  m_script.CodeValue32(150, 0, 1);
  int value = 0;
  ASSERT_TRUE(m_drive.ReadCodeValueInt(150, 0, value));
  m_script.Request(gci::kGetSegmentSize, 28, Message({.Handle = 0, .Status = 1}));
  std::uint32_t size = 0;
  ASSERT_TRUE(m_drive.GetSegmentSize(size));
  EXPECT_EQ(Messages().back()[3], 0);

  Memory().packets.clear();
  EXPECT_FALSE(m_drive.ReadCodeValueInt(150, 0, value));
  EXPECT_TRUE(Memory().packets.empty());
  EXPECT_EQ(LogText(), "") << "a request that cannot be built has no text";

  // A new table has every slot free again; without one no request is built.
  m_drive.InstallGci();
  m_script.CodeValue32(150, 0, 3);
  EXPECT_TRUE(m_drive.ReadCodeValueInt(150, 0, value));
  EXPECT_EQ(value, 3);
  m_drive.DeinstallGci();
  EXPECT_FALSE(m_drive.ReadCodeValueInt(150, 0, value));
}

TEST_F(DriveMessagesTest, AnswerCounterStartsAgainWhenReset) {
  // Two code values answered (counter 0 and 1, freeing slots 0 and 1), then the counter starts
  // again: the next built answer frees slot 0 and leaves its own slot, 2, taken.
  m_script.CodeValue32(150, 0, 1);
  m_script.CodeValue32(150, 0, 1);
  int value = 0;
  ASSERT_TRUE(m_drive.ReadCodeValueInt(150, 0, value));
  ASSERT_TRUE(m_drive.ReadCodeValueInt(150, 0, value));
  m_drive.ResetAnswerCounter();
  m_script.CodeValue32(150, 0, 1);
  ASSERT_TRUE(m_drive.ReadCodeValueInt(150, 0, value));
  // Slots 3..255 are taken by requests answered with an error; then slot 0 is the first free.
  for (int slot = 3; slot <= 255; ++slot) {
    m_script.Request(gci::kGetSegmentSize, 28, Message({.Status = 1}));
    std::uint32_t size = 0;
    ASSERT_TRUE(m_drive.GetSegmentSize(size));
  }
  m_script.Request(gci::kGetSegmentSize, 28, Message({.Status = 1}));
  std::uint32_t size = 0;
  ASSERT_TRUE(m_drive.GetSegmentSize(size));
  EXPECT_EQ(Messages().back()[3], 0);
  m_script.Request(gci::kGetSegmentSize, 28, Message({.Status = 1}));
  ASSERT_TRUE(m_drive.GetSegmentSize(size));
  EXPECT_EQ(Messages().back()[3], 1);
  // Slot 2 is still taken: the table is full.
  Memory().packets.clear();
  EXPECT_FALSE(m_drive.GetSegmentSize(size));
  EXPECT_TRUE(Memory().packets.empty());
}

TEST(DownloadLog, PutsALineFeedBetweenEntries) {
  CScriptedUserInterface ui;
  CDownloadLog log;
  EXPECT_EQ(log.Text(), "");
  log.Append("Connection failed.");
  log.Append("Install GCI failed.");
  EXPECT_EQ(log.Text(), "Connection failed.\nInstall GCI failed.");
  EXPECT_EQ(&TheDownloadLog(), &TheDownloadLog());
}

}  // namespace
