#include "console/image_listing_command.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/image_files.h"
#include "support/image_listing_run.h"

using namespace image_test;

namespace {

void Append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

class InspectTest : public ::testing::Test {
 protected:
  CTempFolder m_folder;
};

TEST_F(InspectTest, SegmentsListEverySegmentAndHashWhatIsSent) {
  std::vector<std::uint8_t> boot = Counting(0x10, 0x40);
  std::vector<std::uint8_t> app = Counting(0x80, 0x01);
  std::string path = m_folder.Write("fw.seg", SegmentRecord(0x0000, boot) + SegmentRecord(0x4000, app));
  InspectRun run = Inspect({path, "--as", "segments"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "segment 0x00000-0x03FFF size 0x10 kind 0 not sent\n"
            "segment 0x04000-0x05FFF size 0x80 kind 1\n"
            "total 0x90\n"
            "sha256 " + Sha256Sum(m_folder, app) + "\n");
}

TEST_F(InspectTest, SegmentsFollowTheChosenRegionTable) {
  std::vector<std::uint8_t> low = Counting(0x20, 1);
  std::vector<std::uint8_t> high = Counting(0x31, 9);  // odd: one erased byte is added
  std::string path = m_folder.Write("fw.seg", SegmentRecord(0x4000, low) + SegmentRecord(0x18000, high));
  std::vector<std::uint8_t> sentB = high;
  sentB.push_back(0xFF);
  std::vector<std::uint8_t> sentA = low;
  Append(sentA, sentB);

  InspectRun b = Inspect({path, "--as", "segments", "--regions", "B"});
  EXPECT_EQ(b.out,
            "segment 0x04000-0x05FFF size 0x20 kind 0 not sent\n"
            "segment 0x18000-0x1FFFF size 0x32 kind 2\n"
            "total 0x52\n"
            "sha256 " + Sha256Sum(m_folder, sentB) + "\n");
  InspectRun servo = Inspect({path, "--regions", "servo", "--as", "segments"});
  EXPECT_EQ(servo.out,
            "segment 0x04000-0x05FFF size 0x20 kind 0 not sent\n"
            "segment 0x10000-0x1FFFF size 0x8032 kind 1\n"
            "total 0x8052\n"
            "sha256 " + Sha256Sum(m_folder, [&] {
              std::vector<std::uint8_t> bytes(0x8032, 0xFF);
              std::copy(high.begin(), high.end(), bytes.begin() + 0x8000);
              return bytes;
            }()) + "\n");
  InspectRun a = Inspect({path, "--as", "segments", "--regions", "A"});
  EXPECT_EQ(a.out.substr(0, a.out.find("total")),
            "segment 0x04000-0x05FFF size 0x20 kind 1\n"
            "segment 0x10000-0x1FFFF size 0x8032 kind 1\n");
}

TEST_F(InspectTest, HexListsTheBlocksThatAreNotBlank) {
  std::string path = m_folder.Write(
      "fw.hex", Lines({HexData(0x0000, {0x12}), HexExtLinear(0x0001), HexData(0x2345, {0xAB, 0xCD}), kHexEof}));
  std::vector<std::uint8_t> block0(4096, 0xFF);
  block0[0] = 0x12;
  std::vector<std::uint8_t> block18(4096, 0xFF);
  block18[0x345] = 0xAB;
  block18[0x346] = 0xCD;
  std::vector<std::uint8_t> sent = block0;
  Append(sent, block18);
  InspectRun run = Inspect({path, "--as", "hex"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "block 0 at 0x00000\nblock 18 at 0x12000\nsha256 " + Sha256Sum(m_folder, sent) + "\n");
}

TEST_F(InspectTest, AnImageWithoutDataIsRefused) {
  std::string path = m_folder.Write("empty.hex", Lines({kHexEof}));
  InspectRun run = Inspect({path, "--as", "hex"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, path + ": The file holds no data to send.\n");
}

TEST_F(InspectTest, Hex16ListsWordSegmentsAndHashesWordsLowByteFirst) {
  std::string path = m_folder.Write(
      "fw16.hex", Lines({HexExtLinear(0x0030), HexData(0x0000, {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A}),
                         HexExtLinear(0x0033), HexData(0x0000, {0x01, 0x02}), kHexEof}));
  InspectRun run = Inspect({path, "--as", "hex16"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "segment 0x300000-0x303FFF count 0x4 kind 1\n"
            "segment 0x330000-0x333FFF count 0x2 kind 0 not sent\n"
            "total 0x6\n"
            "sha256 " + Sha256Sum(m_folder, {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0xFF, 0xFF}) + "\n");
}

TEST_F(InspectTest, BinaryListsBlocksWithTheBytesTakenAndHashesThemPadded) {
  std::vector<std::uint8_t> data = Counting(5000, 7);
  std::string path = m_folder.Write("fw.bin", std::string(data.begin(), data.end()));
  std::vector<std::uint8_t> sent = data;
  sent.resize(8192, 0xFF);
  InspectRun run = Inspect({path, "--as", "binary"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "block 0 at 0x0800C000 length 4096\n"
            "block 1 at 0x0800D000 length 904\n"
            "sha256 " + Sha256Sum(m_folder, sent) + "\n");
}

// A file that does not load prints where and why on the error stream, nothing on the output,
// and exits 2.
TEST_F(InspectTest, AFileThatDoesNotLoadIsReportedWithItsLineOrOffset) {
  std::string hex = m_folder.Write("bad.hex", Lines({HexData(0, {1}), ":0100100042BE"}));
  std::string hex16 = m_folder.Write("bad16.hex", Lines({HexExtLinear(0x0034), HexData(0, {1, 2})}));
  std::string seg = m_folder.Write("bad.seg", SegmentRecord(0x4000, {1, 2, 3, 4}) + std::string("\x00\x41", 2));
  std::string missing = m_folder / "missing.hex";
  std::string folder = m_folder.Path().string();
  struct Case {
    CommandArgs args;
    std::string err;
  } cases[] = {
      {{hex, "--as", "hex"}, hex + ":2: The checksum of the record is wrong.\n"},
      {{hex16, "--as", "hex16"}, hex16 + ":2: The address 0x340000 lies outside the flash regions of this device.\n"},
      {{seg, "--as", "segments"},
       seg + ": offset 12: The record is cut short by the end of the file (8 bytes needed, 2 left).\n"},
      {{missing, "--as", "hex"}, missing + ": The file could not be opened: No such file or directory\n"},
      {{folder, "--as", "binary"},
       folder + ": This is not a regular file; an image is read only from a file whose size is known.\n"},
  };
  for (const auto& c : cases) {
    InspectRun run = Inspect(c.args);
    EXPECT_EQ(run.status, 2) << c.args[0];
    EXPECT_EQ(run.out, "") << c.args[0];
    EXPECT_EQ(run.err, c.err);
  }
}

// A pipe, a device that never ends or a folder: refused at once by every kind of image, and no
// open waits for a pipe's writer.
TEST_F(InspectTest, WhatIsNoRegularFileIsRefusedAtOnce) {
  const std::string pipe = m_folder / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const std::string notAFile = ": This is not a regular file; an image is read only from a file whose size is known.\n";
  for (const std::string& path : {pipe, std::string("/dev/zero"), m_folder.Path().string()}) {
    for (const char* kind : {"hex", "hex16", "segments", "binary", "pages", "lines"}) {
      const auto start = std::chrono::steady_clock::now();
      InspectRun run = Inspect({path, "--as", kind});
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500)) << path << " " << kind;
      EXPECT_EQ(run.status, 2) << path << " " << kind;
      EXPECT_EQ(run.err, path + notAFile) << kind;
    }
  }
}

TEST_F(InspectTest, UsageErrorsExitWith2) {
  std::string path = m_folder.Write("fw.hex", kHexEof);
  const CommandArgs cases[] = {{},
                               {path},
                               {"--as", "hex"},
                               {path, "--as"},
                               {path, "--as", "elf"},
                               {path, "--as", "hex", "--regions", "A"},
                               {path, "--as", "segments", "--regions", "C"},
                               {path, path, "--as", "hex"},
                               {path, "--as", "hex", "--verbose"}};
  for (const auto& args : cases) {
    InspectRun run = Inspect(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("tavrix-update-cli inspect: ", 0), 0u) << run.err;
  }
}

// The program itself: the command is in the table, and the exit status reaches the shell.
TEST_F(InspectTest, TheProgramRunsInspect) {
  std::string program = std::string(TAVRIX_BIN_DIR) + "/tavrix-update-cli";
  if (!std::filesystem::exists(program)) GTEST_SKIP() << program << " is not built";
  std::string good = m_folder.Write("fw.hex", Lines({HexData(0x12345 & 0xFFFF, {1}), kHexEof}));
  std::string bad = m_folder.Write("bad.hex", "garbage\n");
  auto run = [&](const std::string& file) {
    std::FILE* pipe = ::popen((program + " inspect '" + file + "' --as hex 2>&1").c_str(), "r");
    std::string text;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
    int status = ::pclose(pipe);
    return std::make_pair(WEXITSTATUS(status), text);
  };
  auto [goodStatus, goodText] = run(good);
  EXPECT_EQ(goodStatus, 0);
  EXPECT_EQ(goodText.substr(0, 20), "block 2 at 0x02000\ns");
  auto [badStatus, badText] = run(bad);
  EXPECT_EQ(badStatus, 2);
  EXPECT_EQ(badText, bad + ":1: The line does not begin with \":\".\n");
}

}  // namespace
