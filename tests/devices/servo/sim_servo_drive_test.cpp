// The simulated servo drive, frame in and frames out, with no USB in between: its object
// transfers (the frames the updater's client sends, written here by hand), the command
// machine, the file system behind the message channel, and what it refuses.

#include "sim/devices/servo/sim_servo_drive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "devices/servo/gci_message.h"
#include "sim/firmware_version_tag.h"
#include "sim/sim_options.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

CSimServoDrive MakeDrive(const std::string& options = {}) {
  CSimDeviceDescription description = ParseSimDeviceDescription("servo:" + options);
  CSimServoDriveSetup setup = TakeSimServoDriveSetup(description.Options);
  EXPECT_TRUE(description.Options.Unused().empty());
  return CSimServoDrive(setup);
}

CanFrame Frame(Bytes bytes, std::uint8_t length = 8) {
  CanFrame frame;
  frame.Identifier = CSimServoDrive::kRequestIdentifier;
  frame.Length = length;
  std::copy(bytes.begin(), bytes.end(), frame.Data);
  return frame;
}

Bytes Data(const CanFrame& frame) { return Bytes(frame.Data, frame.Data + 8); }

void PutLe(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
std::uint32_t GetLe(const Bytes& bytes, std::size_t at, int size = 4) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[at + i];
  return value;
}

// A request message with its parameters and payload.
Bytes Request(std::uint8_t type, std::uint32_t p1 = 0, std::uint32_t p2 = 0, std::uint32_t p3 = 0,
              const Bytes& payload = {}) {
  Bytes message(gci::kHeaderSize);
  message[0] = gci::kMarker;
  message[1] = type;
  message[3] = 7;  // a handle slot, echoed in the answer
  PutLe(message, gci::kLengthOffset, static_cast<std::uint32_t>(gci::kLengthBase + payload.size()));
  PutLe(message, gci::kParameter1Offset, p1);
  PutLe(message, gci::kParameter2Offset, p2);
  PutLe(message, gci::kParameter3Offset, p3);
  message.insert(message.end(), payload.begin(), payload.end());
  return message;
}

Bytes Named(const std::string& name) {
  Bytes payload(name.begin(), name.end());
  payload.push_back(0);
  return payload;
}

std::uint32_t Mode(const char* mode) { return mode[0] | mode[1] << 8 | (mode[1] ? mode[2] << 16 : 0); }

// The host side, written from the object-transfer rules: each exchange asserts the frames the
// drive answers with.
class DriveHost {
 public:
  explicit DriveHost(CSimServoDrive& drive) : m_drive(drive) {}

  // The one answer to `frame`.
  Bytes One(const CanFrame& frame) {
    std::vector<CanFrame> answers = m_drive.Receive(frame);
    EXPECT_EQ(answers.size(), 1u);
    if (answers.empty()) return Bytes(8);
    EXPECT_EQ(answers[0].Identifier, CSimServoDrive::kAnswerIdentifier);
    return Data(answers[0]);
  }

  // The bytes of an object, expedited or segmented.
  Bytes Upload(std::uint16_t index, std::uint8_t subindex) {
    Bytes first = One(Frame({0x40, static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8), subindex}, 4));
    if ((first[0] & 0x43) == 0x43) return Bytes(first.begin() + 4, first.begin() + 8 - (first[0] >> 2 & 3));
    EXPECT_EQ(first[0], 0x41) << "no segmented upload";
    if (first[0] != 0x41) return {};
    const std::uint32_t size = GetLe(first, 4);
    Bytes data;
    std::uint8_t toggle = 0;
    while (true) {
      Bytes segment = One(Frame({static_cast<std::uint8_t>(0x60 | toggle)}, 1));
      EXPECT_EQ(segment[0] & 0x10, toggle);
      data.insert(data.end(), segment.begin() + 1, segment.begin() + 8 - (segment[0] >> 1 & 7));
      toggle ^= 0x10;
      if ((segment[0] & 1) != 0 || data.size() > size) break;
    }
    EXPECT_EQ(data.size(), size);
    return data;
  }
  std::uint32_t ReadCode(int code, int subindex = 0) {
    Bytes value = Upload(gci::CodeObjectIndex(code), static_cast<std::uint8_t>(subindex));
    value.resize(4);
    return GetLe(value, 0);
  }
  Bytes WriteCode(int code, int subindex, std::uint32_t value) {
    const std::uint16_t index = gci::CodeObjectIndex(code);
    return One(Frame({0x23, static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8),
                      static_cast<std::uint8_t>(subindex), static_cast<std::uint8_t>(value),
                      static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value >> 16),
                      static_cast<std::uint8_t>(value >> 24)}));
  }

  // A message by segmented download; the answer message, or nothing when refused.
  std::optional<Bytes> Segmented(const Bytes& message) {
    Bytes initiate = One(Frame({0x21, 0x89, 0x21, 0x00, static_cast<std::uint8_t>(message.size()),
                                static_cast<std::uint8_t>(message.size() >> 8), 0, 0}));
    EXPECT_EQ(initiate, (Bytes{0x60, 0x89, 0x21, 0x00, 0, 0, 0, 0}));
    std::uint8_t toggle = 0;
    for (std::size_t at = 0; at < message.size(); at += 7) {
      const std::size_t count = std::min<std::size_t>(7, message.size() - at);
      const bool last = at + count == message.size();
      Bytes segment = {static_cast<std::uint8_t>(toggle | (7 - count) << 1 | (last ? 1 : 0))};
      segment.insert(segment.end(), message.begin() + at, message.begin() + at + count);
      Bytes answer = One(Frame(segment));
      if (answer[0] == 0x80) return std::nullopt;
      EXPECT_EQ(answer[0], 0x20 | toggle);
      toggle ^= 0x10;
    }
    return Upload(gci::kMessageChannelIndex, 0);
  }

  // A message by block download; the answer message, or nothing when refused. `crc` replaces
  // the message's CRC.
  std::optional<Bytes> Block(const Bytes& message, std::optional<std::uint16_t> crc = std::nullopt) {
    Bytes initiate = {0xC6, 0x89, 0x21, 0x00, 0, 0, 0, 0};
    PutLe(initiate, 4, static_cast<std::uint32_t>(message.size()));
    Bytes answer = One(Frame(initiate));
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 4), (Bytes{0xA4, 0x89, 0x21, 0x00}));
    const std::uint8_t blockSize = answer[4];
    std::uint8_t sequence = 0;
    std::size_t lastCount = 0;
    for (std::size_t at = 0; at < message.size(); at += 7) {
      lastCount = std::min<std::size_t>(7, message.size() - at);
      const bool last = at + lastCount == message.size();
      ++sequence;
      Bytes segment = {static_cast<std::uint8_t>(sequence | (last ? 0x80 : 0))};
      segment.insert(segment.end(), message.begin() + at, message.begin() + at + lastCount);
      std::vector<CanFrame> answers = m_drive.Receive(Frame(segment, static_cast<std::uint8_t>(1 + lastCount)));
      if (!last && sequence != blockSize) {
        EXPECT_TRUE(answers.empty());
        continue;
      }
      EXPECT_EQ(answers.size(), 1u);
      if (answers.empty()) return std::nullopt;
      EXPECT_EQ(Bytes(answers[0].Data, answers[0].Data + 3), (Bytes{0xA2, sequence, blockSize}));
      sequence = 0;
    }
    const std::uint16_t sum = crc.value_or(gci::Crc16(message));
    Bytes end = One(Frame({static_cast<std::uint8_t>(0xC1 | (7 - lastCount) << 2), static_cast<std::uint8_t>(sum),
                           static_cast<std::uint8_t>(sum >> 8)}));
    m_lastEnd = end;
    if (end[0] != 0xA1) return std::nullopt;
    EXPECT_EQ(Bytes(end.begin(), end.begin() + 4), (Bytes{0xA1, 0x89, 0x21, 0x00}));
    return Upload(gci::kMessageChannelIndex, 0);
  }

  Bytes m_lastEnd;

 private:
  CSimServoDrive& m_drive;
};

std::uint16_t Status(const Bytes& answer) { return static_cast<std::uint16_t>(GetLe(answer, gci::kStatusOffset, 2)); }

Bytes Abort(std::uint16_t index, std::uint8_t subindex, std::uint32_t reason) {
  Bytes frame = {0x80, static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8), subindex, 0, 0, 0, 0};
  PutLe(frame, 4, reason);
  return frame;
}

TEST(SimServoDriveTest, CodeValuesTravelExpeditedOrSegmented) {
  CSimServoDrive drive = MakeDrive("code=203/6:,code=513/0:\\ab,code=3028/0:60");
  DriveHost host(drive);
  // Reading code 150: the status word, two bytes, controller inhibit on.
  EXPECT_EQ(host.One(Frame({0x40, 0x69, 0x5F, 0x00}, 4)), (Bytes{0x4B, 0x69, 0x5F, 0x00, 0x80, 0x00, 0x00, 0x00}));
  EXPECT_EQ(host.One(Frame({0x40, 0x2B, 0x54, 0x00}, 4)), (Bytes{0x43, 0x2B, 0x54, 0x00, 60, 0, 0, 0}));
  // A string of more than 4 bytes is segmented, with toggle and end bit.
  const std::string name = "SERVO DRIVE 3351";
  EXPECT_EQ(host.Upload(gci::CodeObjectIndex(99), 0), Bytes(name.begin(), name.end()));
  // An empty one is announced with size 0 and one segment; a short one goes expedited.
  EXPECT_EQ(host.One(Frame({0x40, 0x34, 0x5F, 0x06}, 4)), (Bytes{0x41, 0x34, 0x5F, 0x06, 0, 0, 0, 0}));
  EXPECT_EQ(host.One(Frame({0x60}, 1)), (Bytes{0x0F, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(host.One(Frame({0x40, 0xFE, 0x5D, 0x00}, 4)), (Bytes{0x47, 0xFE, 0x5D, 0x00, '\\', 'a', 'b', 0}));
  // An object the drive does not have.
  EXPECT_EQ(host.One(Frame({0x40, 0x00, 0x10, 0x00}, 4)), Abort(0x1000, 0, CSimServoDrive::kAbortNoObject));
}

TEST(SimServoDriveTest, CommandsRunForTheirPollsAndEndAsConfigured) {
  struct Case {
    const char* options;
    int subindex;
    std::uint32_t command;
    std::vector<std::uint32_t> polls;  // what 515 reads, up to the first value other than 2
  };
  const Case cases[] = {
      {"", 6, 23, {2, 0}},
      {"busy=2", 6, 23, {2, 2, 0}},
      {"busy=0,fail=21:3", 5, 21, {3}},
      {"fail=22:7,busy=22:3", 6, 22, {2, 2, 2, 7}},
      {"fail=22:7,busy=22:3", 6, 25, {2, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    CSimServoDrive drive = MakeDrive(c.options);
    DriveHost host(drive);
    const std::uint16_t index = gci::CodeObjectIndex(514);
    EXPECT_EQ(host.WriteCode(514, c.subindex, c.command),
              (Bytes{0x60, static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8),
                     static_cast<std::uint8_t>(c.subindex), 0, 0, 0, 0}));
    std::vector<std::uint32_t> polls;
    do {
      polls.push_back(host.ReadCode(515));
    } while (polls.back() == 2 && polls.size() < 10);
    EXPECT_EQ(polls, c.polls);
    EXPECT_EQ(host.ReadCode(515), c.polls.back()) << "the result stays";
    EXPECT_EQ(drive.Commands(), (std::vector<CSimServoCommand>{{c.subindex, c.command, c.polls.back()}}));
  }
  // The program selection is a number to read back, no command.
  CSimServoDrive drive = MakeDrive();
  DriveHost host(drive);
  host.WriteCode(514, 1, 1);
  EXPECT_EQ(host.ReadCode(514, 1), 1u);
  EXPECT_TRUE(drive.Commands().empty());
}

TEST(SimServoDriveTest, DeviceCommandsSetTheStatusWords) {
  CSimServoDrive idle = MakeDrive();
  DriveHost host(idle);
  EXPECT_EQ(host.ReadCode(150), 0x80u);
  EXPECT_EQ(host.ReadCode(155), 0u);
  CSimServoDrive running = MakeDrive("running");
  DriveHost runningHost(running);
  EXPECT_EQ(runningHost.ReadCode(150), 0u);
  EXPECT_EQ(runningHost.ReadCode(155), 0x800u);
  runningHost.WriteCode(2, 0, 41);
  runningHost.WriteCode(2, 0, 32);
  EXPECT_EQ(runningHost.ReadCode(150), 0x80u);
  EXPECT_EQ(runningHost.ReadCode(155), 0u);
  runningHost.WriteCode(2, 0, 31);
  runningHost.WriteCode(2, 0, 42);
  EXPECT_EQ(runningHost.ReadCode(150), 0u);
  EXPECT_EQ(runningHost.ReadCode(155), 0x800u);
  EXPECT_EQ(running.DeviceCommands(), (std::vector<std::uint32_t>{41, 32, 31, 42}));
}

TEST(SimServoDriveTest, RefusedAndReadOnlyCodesAnswerWithAnAbort) {
  CSimServoDrive drive = MakeDrive("refuse_write=2/0,refuse_read=155/0");
  DriveHost host(drive);
  EXPECT_EQ(host.WriteCode(2, 0, 41), Abort(gci::CodeObjectIndex(2), 0, CSimServoDrive::kAbortRefused));
  EXPECT_EQ(host.One(Frame({0x40, 0x64, 0x5F, 0x00}, 4)), Abort(0x5F64, 0, CSimServoDrive::kAbortRefused));
  EXPECT_EQ(host.WriteCode(150, 0, 0), Abort(0x5F69, 0, CSimServoDrive::kAbortReadOnly));
  EXPECT_EQ(host.ReadCode(150), 0x80u) << "unchanged";
  EXPECT_TRUE(drive.DeviceCommands().empty());
}

TEST(SimServoDriveTest, FinishDownloadBringsTheApplicationVersion) {
  struct Case {
    const char* options;
    bool taggedFile;
    std::uint16_t application;
  };
  const Case cases[] = {
      {"application=100,application_after=150", false, 150},
      {"application=100", true, 142},
      {"application=100", false, 100},
      {"application=100,application_after=150,fail=24:1", true, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    CSimServoDrive drive = MakeDrive(c.options);
    DriveHost host(drive);
    if (c.taggedFile) {
      std::optional<Bytes> opened = host.Block(Request(gci::kOpenFile, 0x80, Mode("wb+"), 0, Named("\\project\\app.bin")));
      ASSERT_TRUE(opened);
      const std::string tag = FirmwareVersionTag(142) + ";";
      host.Block(Request(gci::kWriteFile, GetLe(*opened, 20), 0, static_cast<std::uint32_t>(tag.size()),
                         Bytes(tag.begin(), tag.end())));
    }
    EXPECT_EQ(drive.ApplicationVersion(), 100);
    host.WriteCode(514, 6, 24);
    EXPECT_EQ(drive.ApplicationVersion(), c.application);
  }
}

TEST(SimServoDriveTest, AFileWrittenByBlockDownloadReadsBackBySegmentedUpload) {
  CSimServoDrive drive = MakeDrive("free=10000");
  DriveHost host(drive);
  Bytes content(2500);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 13 + 5);

  std::optional<Bytes> opened = host.Block(Request(gci::kOpenFile, 0x80, Mode("wb+"), 0, Named("\\project\\Motion.bin")));
  ASSERT_TRUE(opened);
  EXPECT_EQ(Status(*opened), 0);
  EXPECT_EQ((*opened)[3], 7) << "the answer names the request's handle slot";
  const std::uint32_t handle = GetLe(*opened, 20);
  EXPECT_NE(handle, 0u);
  for (std::size_t at = 0; at < content.size(); at += 1024) {
    const std::size_t count = std::min<std::size_t>(1024, content.size() - at);
    std::optional<Bytes> written =
        host.Block(Request(gci::kWriteFile, handle, static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(count),
                           Bytes(content.begin() + at, content.begin() + at + count)));
    ASSERT_TRUE(written);
    EXPECT_EQ(Status(*written), 0);
  }
  EXPECT_EQ(Status(*host.Block(Request(gci::kCloseFile, handle))), 0);

  // Size, free space and segment size by segmented download, found without regard to case.
  std::optional<Bytes> size = host.Segmented(Request(gci::kGetFileSize, 0x80, 0, 0, Named("\\PROJECT\\motion.BIN")));
  ASSERT_TRUE(size);
  EXPECT_EQ(GetLe(*size, 16), 2500u);
  std::optional<Bytes> free = host.Segmented(Request(gci::kGetSizeDir, 0, 0, 0, Named("\\project")));
  ASSERT_TRUE(free);
  EXPECT_EQ(GetLe(*free, 24), 7500u);
  std::optional<Bytes> segment = host.Segmented(Request(gci::kGetSegmentSize, 3));
  ASSERT_TRUE(segment);
  EXPECT_EQ(GetLe(*segment, 20), 1024u);

  std::optional<Bytes> reading = host.Block(Request(gci::kOpenFile, 0x80, Mode("rb"), 0, Named("\\project\\motion.bin")));
  ASSERT_TRUE(reading);
  const std::uint32_t readHandle = GetLe(*reading, 20);
  Bytes readBack;
  for (std::uint32_t at = 0; at < 2500; at += 1024) {
    std::optional<Bytes> piece = host.Block(Request(gci::kReadFile, readHandle, at, 1024));
    ASSERT_TRUE(piece);
    ASSERT_EQ(Status(*piece), 0);
    const std::uint32_t count = GetLe(*piece, 20);
    EXPECT_EQ(GetLe(*piece, 4), 20 + count);
    readBack.insert(readBack.end(), piece->begin() + 28, piece->end());
  }
  EXPECT_EQ(readBack, content);
  // Writing through a handle opened for reading is refused with a status.
  EXPECT_EQ(Status(*host.Block(Request(gci::kWriteFile, readHandle, 0, 1, {1}))), kSimServoAccess);

  EXPECT_NE(drive.RecordText().find("file \\project\\Motion.bin 2500 " + SimServoSha256(content) + "\n"),
            std::string::npos)
      << drive.RecordText();
}

TEST(SimServoDriveTest, RequestsThatCannotBeCarriedOutAnswerWithAStatus) {
  CSimServoDrive drive = MakeDrive("free=100,segment_size=0,gci_error=176:9,error_file_text=\"bad module\"");
  DriveHost host(drive);
  struct Case {
    const char* name;
    Bytes request;
    std::uint16_t status;
  };
  const Case cases[] = {
      {"missing file", Request(gci::kOpenFile, 0x80, Mode("rb"), 0, Named("\\project\\none.dat")), kSimServoNoFile},
      {"unknown mode", Request(gci::kOpenFile, 0x80, Mode("ab"), 0, Named("\\project\\a.dat")), kSimServoMalformed},
      {"name without its zero", Request(gci::kOpenFile, 0x80, Mode("rb"), 0, {'a', 'b'}), kSimServoMalformed},
      {"no such handle", Request(gci::kCloseFile, 99), kSimServoNoHandle},
      {"type 130 is never a message", Request(130, 150), kSimServoUnknownType},
      {"gci_error", Request(gci::kGetSizeDir, 0, 0, 0, Named("\\project")), 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<Bytes> answer = host.Block(c.request);
    ASSERT_TRUE(answer);
    EXPECT_EQ(Status(*answer), c.status);
    EXPECT_EQ(answer->size(), gci::kHeaderSize) << "an error answer carries nothing";
  }
  // The preloaded error file, FILE02.DAT by number, a full drive, a segment size of 0.
  std::optional<Bytes> size = host.Segmented(Request(gci::kGetFileSize, 0x80, 0, 0, Named("\\project\\DevCErr.dat")));
  EXPECT_EQ(GetLe(*size, 16), 10u);
  std::optional<Bytes> numbered = host.Block(Request(gci::kOpenFile, 2, Mode("wb+")));
  const std::uint32_t handle = GetLe(*numbered, 20);
  EXPECT_EQ(Status(*host.Block(Request(gci::kReadFile, handle, 0, 1025))), kSimServoMalformed);
  EXPECT_EQ(Status(*host.Block(Request(gci::kWriteFile, handle, 0, 91, Bytes(91)))), kSimServoNoSpace);
  EXPECT_EQ(Status(*host.Block(Request(gci::kWriteFile, handle, 0, 90, Bytes(90)))), 0);
  EXPECT_EQ(GetLe(*host.Segmented(Request(gci::kGetSegmentSize, 3)), 20), 0u);
  EXPECT_EQ(drive.Files().Files().back().Path, "FILE02.DAT");
}

TEST(SimServoDriveTest, AWrongCrcFailsTheTransfer) {
  CSimServoDrive drive = MakeDrive();
  DriveHost host(drive);
  const Bytes open = Request(gci::kOpenFile, 0x80, Mode("wb+"), 0, Named("\\project\\x.dat"));
  EXPECT_FALSE(host.Block(open, static_cast<std::uint16_t>(gci::Crc16(open) ^ 1)));
  EXPECT_EQ(host.m_lastEnd, Abort(0x2189, 0, CSimServoDrive::kAbortCrc));
  EXPECT_TRUE(drive.Files().Files().empty()) << "the request was not carried out";
  // No answer waits in the channel; the next transfer works.
  EXPECT_EQ(host.One(Frame({0x40, 0x89, 0x21, 0x00}, 4)), Abort(0x2189, 0, CSimServoDrive::kAbortNoData));
  EXPECT_TRUE(host.Block(open));
  EXPECT_EQ(drive.Files().Files().size(), 1u);
}

TEST(SimServoDriveTest, AMalformedTransferIsAbortedAndTheDriveGoesOn) {
  struct Case {
    const char* name;
    std::vector<Bytes> frames;  // the last one is answered with the abort
    Bytes abort;
  };
  const Bytes initiateBlock = {0xC6, 0x89, 0x21, 0x00, 28, 0, 0, 0};
  const Case cases[] = {
      {"upload segment without an upload", {{0x60}}, Abort(0, 0, CSimServoDrive::kAbortCommand)},
      {"download segment without a download", {{0x00, 1, 2, 3, 4, 5, 6, 7}}, Abort(0, 0, CSimServoDrive::kAbortCommand)},
      {"wrong toggle", {{0x21, 0x89, 0x21, 0x00, 28, 0, 0, 0}, {0x10, 1, 2, 3, 4, 5, 6, 7}},
       Abort(0x2189, 0, CSimServoDrive::kAbortToggle)},
      {"a message longer than any", {{0xC6, 0x89, 0x21, 0x00, 0x00, 0x10, 0, 0}}, Abort(0x2189, 0, CSimServoDrive::kAbortLength)},
      {"a segment left out", {initiateBlock, {0x02, 1, 2, 3, 4, 5, 6, 7}}, Abort(0x2189, 0, CSimServoDrive::kAbortSequence)},
      {"fewer bytes than announced",
       {initiateBlock, {0x81, 1, 2, 3, 4, 5, 6, 7}, {0xC1, 0, 0}},
       Abort(0x2189, 0, CSimServoDrive::kAbortLength)},
      {"no request message", {{0x21, 0x89, 0x21, 0x00, 7, 0, 0, 0}, {0x01, 9, 9, 9, 9, 9, 9, 9}},
       Abort(0x2189, 0, CSimServoDrive::kAbortMessage)},
      {"a message sent expedited", {{0x23, 0x89, 0x21, 0x00, 1, 0, 0, 0}}, Abort(0x2189, 0, CSimServoDrive::kAbortAccess)},
      {"a code value by block download", {{0xC6, 0x69, 0x5F, 0x00, 4, 0, 0, 0}}, Abort(0x5F69, 0, CSimServoDrive::kAbortAccess)},
      {"an unknown command", {{0xE0}}, Abort(0, 0, CSimServoDrive::kAbortCommand)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSimServoDrive drive = MakeDrive();
    DriveHost host(drive);
    std::vector<CanFrame> answers;
    for (const Bytes& frame : c.frames) answers = drive.Receive(Frame(frame));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(Data(answers[0]), c.abort);
    std::vector<CSimServoEvent> events = drive.TakeEvents();
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const auto& event) { return event.Violation; }));
    EXPECT_EQ(host.ReadCode(150), 0x80u) << "the drive is ready for the next transfer";
  }
}

// Whatever frames and messages a host sends, the drive answers within its bounds and stays
// ready: run under the sanitizers, this is where a length taken from the host would overrun.
TEST(SimServoDriveTest, ArbitraryFramesAndMessagesNeverBreakTheDrive) {
  std::mt19937 random(20261210);
  auto byte = [&] { return static_cast<std::uint8_t>(random()); };
  const std::uint8_t commands[] = {0x40, 0x60, 0x70, 0x21, 0x23, 0x2B, 0x2F, 0x00, 0x11, 0x1F, 0xC6, 0xC4,
                                   0xC1, 0xD5, 0x01, 0x02, 0x85, 0x80, 0xA0, 0xFF};
  CSimServoDrive drive = MakeDrive("free=4000,block_size=3,error_file=50");
  DriveHost host(drive);
  for (int burst = 0; burst < 300; ++burst) {
    for (int i = 0; i < 40; ++i) {
      // Mostly the message channel and small sizes, so that transfers get under way.
      Bytes bytes = {commands[random() % std::size(commands)], 0x89, 0x21, 0, 0, 0, 0, 0};
      for (std::size_t at = 1; at < 8; ++at) {
        if (random() % 3 == 0) bytes[at] = byte();
      }
      bytes[4] %= 64;
      CanFrame frame = Frame(bytes);
      for (const CanFrame& answer : drive.Receive(frame)) ASSERT_EQ(answer.Identifier, CSimServoDrive::kAnswerIdentifier);
    }
    drive.Receive(Frame({0x80}));  // the host gives up whatever it had begun
    ASSERT_EQ(host.ReadCode(150), 0x80u) << "burst " << burst;
    // A whole request with arbitrary fields, by block download (its CRC right or not), and the
    // answer fetched.
    Bytes message = Request(static_cast<std::uint8_t>(142 + random() % 4), random() % 4, random() % 2000,
                            random() % 1100, Bytes(random() % 30, byte()));
    message[16] = 'w';
    message[17] = 'b';
    message[18] = '+';
    Bytes initiate = {0xC6, 0x89, 0x21, 0x00, static_cast<std::uint8_t>(message.size()), 0, 0, 0};
    drive.Receive(Frame(initiate));
    std::uint8_t sequence = 0;
    for (std::size_t at = 0; at < message.size(); at += 7) {
      Bytes segment = {static_cast<std::uint8_t>(++sequence % 4 | (at + 7 >= message.size() ? 0x80 : 0))};
      segment.insert(segment.end(), message.begin() + at, message.begin() + std::min(at + 7, message.size()));
      if (sequence == 3) sequence = 0;
      drive.Receive(Frame(segment));
    }
    const std::uint16_t crc = gci::Crc16(message) ^ (random() % 4 == 0 ? 1 : 0);
    const std::size_t padding = (7 - message.size() % 7) % 7;
    drive.Receive(Frame({static_cast<std::uint8_t>(0xC1 | padding << 2), static_cast<std::uint8_t>(crc),
                         static_cast<std::uint8_t>(crc >> 8)}));
    if (drive.Receive(Frame({0x40, 0x89, 0x21, 0x00}, 4))[0].Data[0] == 0x41) {
      for (int i = 0; i < 200 && drive.Receive(Frame({static_cast<std::uint8_t>(0x60 | (i % 2) << 4)}, 1))[0].Data[0] < 0x20;) {
        ++i;
      }
    }
  }
  CSimServoFiles files(4000, 1024);
  files.Preload("\\project\\a.dat", Bytes(100, 1));
  const std::uint8_t types[] = {142, 143, 144, 145, 154, 176, 209, 130, 0};
  for (int i = 0; i < 20000; ++i) {
    Bytes payload(random() % 40);
    for (std::uint8_t& b : payload) b = random() % 3 ? byte() : 0;
    const std::uint32_t small[] = {0, 1, 2, 3, 0x80, 1024, 1025, 0xFFFFFFFF, static_cast<std::uint32_t>(random())};
    auto pick = [&] { return small[random() % std::size(small)]; };
    Bytes request = Request(types[random() % std::size(types)], pick(), pick(), pick(), payload);
    request[16] = random() % 2 ? 'r' : 'w';
    request[17] = 'b';
    request[18] = random() % 2 ? '+' : 0;
    std::optional<Bytes> answer = files.Execute(request);
    ASSERT_TRUE(answer);
    ASSERT_GE(answer->size(), gci::kHeaderSize);
    ASSERT_EQ(GetLe(*answer, 4), answer->size() - 8);
    ASSERT_EQ((*answer)[1], request[1]);
  }
  EXPECT_LE(files.FreeBytes(), 4000u);
}

}  // namespace
