#include "platform/input_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "platform/string_table.h"
#include "support/temp_folder.h"

namespace {

class InputFileTest : public ::testing::Test {
 protected:
  void SetUp() override { SetUiLanguage(LANG_ENGLISH); }
  CTempFolder m_folder;
};

TEST_F(InputFileTest, ReadsARegularFileWhole) {
  const std::string path = m_folder.Write("list.txt", "abc\n");
  CInputFile file;
  ASSERT_TRUE(file.Open(path));
  EXPECT_EQ(file.Size(), 4u);
  std::string bytes;
  ASSERT_TRUE(file.ReadAll(bytes, 4));
  EXPECT_EQ(bytes, "abc\n");
  EXPECT_EQ(file.Failure(), CInputFile::EFailure::None);
  EXPECT_EQ(file.Reason(), "");
}

// A pipe without a writer, a device that never ends, a folder: refused at the open, which does
// not wait; a missing file keeps the program's not-found text.
TEST_F(InputFileTest, WhatIsNoRegularFileIsRefusedAtOnce) {
  const std::string pipe = m_folder / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const std::string toZero = m_folder / "zero";
  std::filesystem::create_symlink("/dev/zero", toZero);
  const std::string notAFile = "This is not a regular file (a pipe, a device or a folder), so it is not read.";
  const struct {
    std::string path;
    CInputFile::EFailure failure;
    std::string message;
  } cases[] = {
      {pipe, CInputFile::EFailure::NotAFile, pipe + "\n" + notAFile},
      {"/dev/zero", CInputFile::EFailure::NotAFile, "/dev/zero\n" + notAFile},
      {toZero, CInputFile::EFailure::NotAFile, toZero + "\n" + notAFile},
      {"/dev/null", CInputFile::EFailure::NotAFile, "/dev/null\n" + notAFile},
      {m_folder.Path().string(), CInputFile::EFailure::NotAFile, m_folder.Path().string() + "\n" + notAFile},
      {m_folder / "missing", CInputFile::EFailure::NotFound,
       (m_folder / "missing") + "\nCannot find this file.\nPlease verify that the correct path and file name are given."},
      {m_folder / "missing/below", CInputFile::EFailure::NotFound, ""},
  };
  for (const auto& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    CInputFile file;
    EXPECT_FALSE(file.Open(c.path)) << c.path;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500)) << c.path;
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Failure(), c.failure) << c.path;
    if (!c.message.empty()) {
      EXPECT_EQ(file.Message(), c.message);
    }
    std::string bytes = "stale";
    EXPECT_FALSE(file.ReadAll(bytes, 100)) << c.path;
    EXPECT_EQ(bytes, "");
  }
}

TEST_F(InputFileTest, AFileAboveTheBoundIsNotRead) {
  const std::string path = m_folder.Write("large.txt", std::string(101, 'x'));
  CInputFile file;
  ASSERT_TRUE(file.Open(path));
  std::string bytes;
  EXPECT_FALSE(file.ReadAll(bytes, 100));
  EXPECT_EQ(file.Failure(), CInputFile::EFailure::TooLarge);
  EXPECT_EQ(bytes, "");
  EXPECT_EQ(file.Message(), path + "\nThe file is larger than 100 bytes, so it is not read.");
  ASSERT_TRUE(file.Open(path));
  EXPECT_TRUE(file.ReadAll(bytes, 101));
  EXPECT_EQ(bytes.size(), 101u);
}

// A regular file whose reads fail says "cannot be read" and the system's reason.
TEST_F(InputFileTest, AReadErrorIsToldWithTheSystemsReason) {
  CInputFile file;
  ASSERT_TRUE(file.Open("/proc/self/mem"));
  std::string bytes;
  EXPECT_FALSE(file.ReadAll(bytes, 100));
  EXPECT_EQ(file.Failure(), CInputFile::EFailure::CannotRead);
  EXPECT_EQ(file.Message(), "/proc/self/mem\nThe file cannot be read: Input/output error");
}

TEST_F(InputFileTest, AFileWithoutReadPermissionCannotBeRead) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  const std::string path = m_folder.Write("locked.txt", "x");
  std::filesystem::permissions(path, std::filesystem::perms::none);
  CInputFile file;
  EXPECT_FALSE(file.Open(path));
  EXPECT_EQ(file.Message(), path + "\nThe file cannot be read: Permission denied");
}

TEST_F(InputFileTest, CheckLetsAMissingOrRegularFileThroughAndNamesTheRest) {
  const std::string pipe = m_folder / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(CInputFile::Check(m_folder / "missing.ini", 10), "");
  EXPECT_EQ(CInputFile::Check(m_folder.Write("small.ini", "[a]\n"), 10), "");
  EXPECT_EQ(CInputFile::Check(pipe, 10), pipe + "\nThis is not a regular file (a pipe, a device or a folder), so it is not read.");
  const std::string large = m_folder.Write("large.ini", std::string(11, 'x'));
  EXPECT_EQ(CInputFile::Check(large, 10), large + "\nThe file is larger than 10 bytes, so it is not read.");
}

}  // namespace
