#include <functional>

#include "devices/servo/drive_script.h"
#include "support/temp_folder.h"
#include "updater/flash_progress.h"

namespace {

// The detail texts and message pumping of a transfer, in order.
class CDetailProgress : public IFlashProgress {
 public:
  void SetRange(std::uint16_t, std::uint16_t) override {}
  bool SetPos(int) override { return true; }
  void SetMarquee() override {}
  void SetDetailText(const std::string& text) override { shown.push_back(text); }
  bool PumpMessages() override {
    shown.push_back("pump");
    return true;
  }
  std::vector<std::string> shown;

 protected:
  void ShowStatusText(const std::string&) override {}
};

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }
// The name as a request's zero-ended payload.
Bytes NamePayload(const std::string& name) {
  Bytes bytes = Text(name);
  bytes.push_back(0);
  return bytes;
}
// The first three bytes of an open mode as parameter 2 holds them.
std::uint32_t Mode(const char* mode) {
  return static_cast<std::uint8_t>(mode[0]) | (static_cast<std::uint8_t>(mode[1]) << 8) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(mode[2])) << 16);
}

using DriveFilesTest = DriveTest;

TEST_F(DriveFilesTest, OpenNamesTheWellKnownFilesByNumberInAnyCase) {
  struct Case {
    std::string path;
    bool forWrite;
    std::uint32_t number;  // byte 12
    Bytes payload;
  };
  const Case cases[] = {
      {"FILE02.DAT", true, 2, {}},
      {"file02.dat", false, 2, {}},
      {"File01.Dat", true, 1, {}},
      {"FILE03.DAT", false, 3, {}},
      {"FILE04.DAT", true, 0x80, NamePayload("FILE04.DAT")},
      {"\\Drive001\\FILE02.DAT", true, 0x80, NamePayload("\\Drive001\\FILE02.DAT")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Memory().packets.clear();
    m_script.Request(gci::kOpenFile, 28 + c.payload.size(), Message({.Type = gci::kOpenFile, .Parameters = {0, 0, 0x1234, 0}}));
    std::uint32_t handle = 0;
    ASSERT_TRUE(m_drive.OpenTransferFile(c.path, c.forWrite, handle));
    EXPECT_EQ(handle, 0x1234u);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], Message({.Type = gci::kOpenFile,
                                      .Handle = Messages()[0][3],
                                      .Parameters = {c.number, Mode(c.forWrite ? "wb+" : "rb"), 0, 0},
                                      .Payload = c.payload}));
  }
  EXPECT_EQ(LogText(), "");
}

// Each file operation: the request it sends, the answer field it takes, and its failure text.
struct FileOperation {
  const char* name;
  std::function<bool(CDrive&, std::uint32_t&)> run;
  MessageFields request;
  std::size_t answerParameter;  // 0..3
  const char* failure;
};

std::vector<FileOperation> FileOperations() {
  return {
      {"open", [](CDrive& d, std::uint32_t& r) { return d.OpenTransferFile("A.BIN", false, r); },
       {.Type = gci::kOpenFile, .Parameters = {0x80, Mode("rb"), 0, 0}, .Payload = NamePayload("A.BIN")}, 2,
       "OpenTransferFile failed."},
      {"size", [](CDrive& d, std::uint32_t& r) { return d.GetFileSize("\\P\\DevCErr.dat", r); },
       {.Type = gci::kGetFileSize, .Parameters = {0x80, 0, 0, 0}, .Payload = NamePayload("\\P\\DevCErr.dat")}, 1,
       "GetFileSize failed."},
      {"size by number", [](CDrive& d, std::uint32_t& r) { return d.GetFileSize("file03.dat", r); },
       {.Type = gci::kGetFileSize, .Parameters = {3, 0, 0, 0}}, 1, "GetFileSize failed."},
      {"free space", [](CDrive& d, std::uint32_t& r) { return d.GetSizeDir("\\P", r); },
       {.Type = gci::kGetSizeDir, .Payload = NamePayload("\\P")}, 3, "GetSizeDir failed."},
      {"segment size", [](CDrive& d, std::uint32_t& r) { return d.GetSegmentSize(r); },
       {.Type = gci::kGetSegmentSize, .Parameters = {3, 0, 0, 0}}, 2, "GetSegmentSize failed."},
  };
}

TEST_F(DriveFilesTest, FileOperationsSendTheirMessageAndTakeTheirField) {
  for (const FileOperation& operation : FileOperations()) {
    SCOPED_TRACE(operation.name);
    const std::size_t size = 28 + operation.request.Payload.size();
    MessageFields answer{.Type = operation.request.Type};
    answer.Parameters[operation.answerParameter] = 500 * 1024;
    struct Outcome {
      Bytes answer;
      std::uint32_t result;
    };
    MessageFields refused = answer;
    refused.Status = 2;
    for (const Outcome& outcome : {Outcome{Message(answer), 500 * 1024}, Outcome{Message(refused), 77}}) {
      CDownloadLog log;
      CMemoryInterface<CDrive> drive(log);
      drive.InstallGci();
      CDriveScript(*drive.memory).Request(operation.request.Type, size, outcome.answer);
      std::uint32_t result = 77;
      EXPECT_TRUE(operation.run(drive, result));
      EXPECT_EQ(result, outcome.result) << "an error answer leaves the result alone";
      ASSERT_EQ(SentMessages(*drive.memory).size(), 1u);
      EXPECT_EQ(SentMessages(*drive.memory)[0], Message(operation.request));
      EXPECT_EQ(log.Text(), "");
      EXPECT_TRUE(drive.memory->input.empty());
    }
    // No answer at all: the operation's text.
    CDownloadLog log;
    CMemoryInterface<CDrive> drive(log);
    drive.InstallGci();
    CDriveScript script(*drive.memory);
    script.Refuse();
    std::uint32_t result = 77;
    EXPECT_FALSE(operation.run(drive, result));
    EXPECT_EQ(result, 77u);
    EXPECT_EQ(log.Text(), operation.failure);
  }
}

TEST_F(DriveFilesTest, ANameLongerThanTheRequestBufferIsNotSent) {
  const std::string path(1000, 'n');
  std::uint32_t value = 0;
  EXPECT_FALSE(m_drive.OpenTransferFile(path, true, value));
  EXPECT_FALSE(m_drive.GetFileSize(path, value));
  EXPECT_FALSE(m_drive.GetSizeDir(path, value));
  EXPECT_TRUE(Memory().written.empty());
  EXPECT_EQ(LogText(), "Opening file '" + path + "' failed.\nGetFileSize failed.\nGetSizeDir failed.");
}

class DriveTransferTest : public DriveTest {
 protected:
  // The drive takes an open request for `drivePath` and names handle 5.
  void AcceptOpen(const std::string& drivePath, std::uint32_t handle = 5) {
    m_script.Request(gci::kOpenFile, 28 + drivePath.size() + 1, Message({.Type = gci::kOpenFile, .Parameters = {0, 0, handle, 0}}));
  }
  void AcceptWrite(std::size_t length) { m_script.Request(gci::kWriteFile, 28 + length, Message({.Type = gci::kWriteFile})); }
  void AcceptClose() { m_script.Request(gci::kCloseFile, 28, Message({.Type = gci::kCloseFile})); }

  // The requests of one type that went out.
  std::vector<Bytes> MessagesOf(std::uint8_t type) {
    std::vector<Bytes> found;
    for (const Bytes& message : Messages()) {
      if (message[1] == type) found.push_back(message);
    }
    return found;
  }

  CDetailProgress m_progress;
};

TEST_F(DriveTransferTest, AFileIsWrittenInSegmentsWithTurningDetailTexts) {
  Bytes content(2500);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 7);
  const std::string local = m_folder.Write("PROG.BIN", std::string(content.begin(), content.end()));
  const std::string drivePath = "\\Drive001\\PROG.BIN";
  AcceptOpen(drivePath);
  for (std::size_t length : {1024, 1024, 452}) AcceptWrite(length);
  AcceptClose();

  ASSERT_TRUE(m_drive.TransferFile(local, drivePath, 1024, &m_progress));
  EXPECT_EQ(m_progress.shown, (std::vector<std::string>{"/", "pump", "\\", "pump", "/", "pump"}));
  const std::vector<Bytes> writes = MessagesOf(gci::kWriteFile);
  ASSERT_EQ(writes.size(), 3u);
  Bytes written;
  const std::uint32_t offsets[] = {0, 1024, 2048};
  const std::uint32_t lengths[] = {1024, 1024, 452};
  for (std::size_t i = 0; i < writes.size(); ++i) {
    EXPECT_EQ(NumberAt(writes[i], 12), 5u) << "handle";
    EXPECT_EQ(NumberAt(writes[i], 16), offsets[i]);
    EXPECT_EQ(NumberAt(writes[i], 20), lengths[i]);
    EXPECT_EQ(NumberAt(writes[i], 4), 20 + lengths[i]);
    written.insert(written.end(), writes[i].begin() + 28, writes[i].end());
  }
  EXPECT_EQ(written, content);
  ASSERT_EQ(MessagesOf(gci::kCloseFile).size(), 1u);
  EXPECT_EQ(NumberAt(MessagesOf(gci::kCloseFile)[0], 12), 5u);
  EXPECT_TRUE(Memory().input.empty());
  EXPECT_EQ(LogText(), "");
}

TEST_F(DriveTransferTest, AnEmptyFileIsOneWriteOfNothing) {
  const std::string local = m_folder.Write("EMPTY.BIN", "");
  AcceptOpen("E");
  AcceptWrite(0);
  AcceptClose();
  ASSERT_TRUE(m_drive.TransferFile(local, "E", 1024, &m_progress));
  ASSERT_EQ(MessagesOf(gci::kWriteFile).size(), 1u);
  EXPECT_EQ(MessagesOf(gci::kWriteFile)[0].size(), 28u);
  EXPECT_EQ(m_progress.shown, (std::vector<std::string>{"/", "pump"}));
}

TEST_F(DriveTransferTest, TheDriveFileIsClosedWhateverWentWrong) {
  const std::string local = m_folder.Write("PROG.BIN", std::string(2500, 'p'));
  // The second write is taken, but its answer cannot be asked for.
  AcceptOpen("P");
  AcceptWrite(1024);
  m_script.BlockDownload(28 + 1024);
  m_script.Refuse();
  AcceptClose();
  EXPECT_FALSE(m_drive.TransferFile(local, "P", 1024, &m_progress));
  EXPECT_EQ(MessagesOf(gci::kCloseFile).size(), 1u);
  EXPECT_EQ(LogText(), "ConvFileWrite failed.");
  EXPECT_TRUE(Memory().input.empty());

  // The PC file cannot be read: nothing written, still closed.
  Memory().packets.clear();
  AcceptOpen("P");
  AcceptClose();
  EXPECT_FALSE(m_drive.TransferFile(m_folder / "missing.bin", "P", 1024, &m_progress));
  EXPECT_TRUE(MessagesOf(gci::kWriteFile).empty());
  EXPECT_EQ(MessagesOf(gci::kCloseFile).size(), 1u);

  // The drive hands out no handle: nothing to write, nothing to close.
  Memory().packets.clear();
  AcceptOpen("P", 0);
  EXPECT_FALSE(m_drive.TransferFile(local, "P", 1024, &m_progress));
  EXPECT_EQ(Messages().size(), 1u);
  EXPECT_TRUE(Memory().input.empty());
}

// A drive that answers a write or the close with an error status has not taken the file
// whole: the transfer fails, with the operation's text and the drive's status in the log.
TEST_F(DriveTransferTest, AWriteOrCloseTheDriveRefusesFailsTheTransfer) {
  const std::string local = m_folder.Write("PROG.BIN", std::string(2500, 'p'));
  AcceptOpen("P");
  m_script.Request(gci::kWriteFile, 28 + 1024, Message({.Type = gci::kWriteFile, .Status = 4}));
  AcceptClose();
  EXPECT_FALSE(m_drive.TransferFile(local, "P", 1024, &m_progress));
  EXPECT_EQ(MessagesOf(gci::kWriteFile).size(), 1u) << "no write after a refused one";
  EXPECT_EQ(MessagesOf(gci::kCloseFile).size(), 1u);
  EXPECT_EQ(LogText(), "ConvFileWrite failed. The drive answered with status 4.");

  Memory().packets.clear();
  m_log = CDownloadLog();
  AcceptOpen("P");
  for (std::size_t length : {1024, 1024, 452}) AcceptWrite(length);
  m_script.Request(gci::kCloseFile, 28, Message({.Type = gci::kCloseFile, .Status = 7}));
  EXPECT_FALSE(m_drive.TransferFile(local, "P", 1024, &m_progress));
  EXPECT_EQ(LogText(), "Close file failed. The drive answered with status 7.");
  EXPECT_TRUE(Memory().input.empty());
}

TEST_F(DriveTransferTest, TheErrorFileIsCopiedIntoTheProjectFolder) {
  const std::string report = "Module 3: not accepted\r\nModule 4: ok";  // 36 bytes
  AcceptOpen("\\D\\DevCErr.dat");
  m_script.Request(gci::kReadFile, 28, Message({.Type = gci::kReadFile, .Parameters = {0, 0, 16, 0}, .Payload = Text(report.substr(0, 16))}));
  m_script.Request(gci::kReadFile, 28, Message({.Type = gci::kReadFile, .Parameters = {0, 0, 16, 0}, .Payload = Text(report.substr(16, 16))}));
  m_script.Request(gci::kReadFile, 28, Message({.Type = gci::kReadFile, .Parameters = {0, 0, 4, 0}, .Payload = Text(report.substr(32))}));
  AcceptClose();
  m_folder.Write("DevCErr.dat", "an older report, longer than the new one");

  ASSERT_TRUE(m_drive.ReadErrorFile(m_folder.Path().string(), 36, "\\D\\DevCErr.dat", 16));
  EXPECT_EQ(ReadWholeFile(m_folder.Path() / "DevCErr.dat"), report);
  const std::vector<Bytes> reads = MessagesOf(gci::kReadFile);
  ASSERT_EQ(reads.size(), 3u);
  EXPECT_EQ(reads[2], Message({.Type = gci::kReadFile, .Handle = reads[2][3], .Parameters = {5, 32, 4, 0}}));
  EXPECT_EQ(NumberAt(MessagesOf(gci::kOpenFile)[0], 16), Mode("rb"));
  EXPECT_EQ(MessagesOf(gci::kCloseFile).size(), 1u);
  EXPECT_EQ(LogText(), "");
}

TEST_F(DriveTransferTest, AReadAnswerWithMoreDataThanAskedForIsRefused) {
  struct Case {
    const char* name;
    std::uint32_t claimed;
    std::size_t sent;
  };
  const Case cases[] = {
      {"more than asked for", 20, 20},
      {"more than it holds", 8, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CDownloadLog log;
    CMemoryInterface<CDrive> drive(log);
    drive.InstallGci();
    CDriveScript(*drive.memory).Request(gci::kReadFile, 28, Message({.Type = gci::kReadFile, .Parameters = {0, 0, c.claimed, 0}, .Payload = Bytes(c.sent, 0xEE)}));
    Bytes destination(8, 0x11);
    EXPECT_FALSE(drive.ConvFileRead(5, destination, 0));
    EXPECT_EQ(destination, Bytes(8, 0x11));
    EXPECT_EQ(log.Text(), "ConvFileRead failed.");
  }
}

}  // namespace
