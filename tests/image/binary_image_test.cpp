#include "image/binary_image.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/image_files.h"

using namespace image_test;

namespace {

TEST(BinaryImageTest, CutsTheFileIntoBlocksAndPadsTheLastWithErasedBytes) {
  CTempFolder folder;
  std::vector<std::uint8_t> data = Counting(5000, 3);
  std::string path = folder.Write("fw.bin", std::string(data.begin(), data.end()));
  CBinaryImage image;
  ASSERT_TRUE(image.Load(path));
  EXPECT_EQ(image.FileSize(), 5000u);
  ASSERT_EQ(image.BlockCount(), 2u);
  EXPECT_EQ(image.BlockAddress(0), 0x0800C000u);
  EXPECT_EQ(image.BlockAddress(1), 0x0800D000u);
  EXPECT_EQ(image.BlockLength(0), 4096u);
  EXPECT_EQ(image.BlockLength(1), 904u);
  ASSERT_EQ(image.Block(1).size(), 4096u);
  EXPECT_TRUE(std::equal(image.Block(0).begin(), image.Block(0).end(), data.begin()));
  EXPECT_TRUE(std::equal(image.Block(1).begin(), image.Block(1).begin() + 904, data.begin() + 4096));
  for (std::size_t i = 904; i < 4096; ++i) ASSERT_EQ(image.Block(1)[i], 0xFF) << i;
}

TEST(BinaryImageTest, AnEmptyFileIsRefused) {
  CTempFolder folder;
  CBinaryImage image;
  const std::string path = folder.Write("empty.bin", "");
  EXPECT_FALSE(image.Load(path));
  EXPECT_EQ(image.LastError().Message(), path + ": The file holds no data to send.");
  EXPECT_EQ(image.BlockCount(), 0u);
}

TEST(BinaryImageTest, AFileOfTheLargestSizeLoads) {
  CTempFolder folder;
  const std::string path = folder / "largest.bin";
  {
    std::ofstream file(path);
  }
  std::filesystem::resize_file(path, CBinaryImage::kMaxFileSize);
  CBinaryImage image;
  ASSERT_TRUE(image.Load(path)) << image.LastError().Message();
  EXPECT_EQ(image.BlockCount(), CBinaryImage::kMaxFileSize / CBinaryImage::kBlockSize);
}

TEST(BinaryImageTest, AFileThatCannotBeReadIsRefused) {
  CTempFolder folder;
  CBinaryImage image;
  EXPECT_FALSE(image.Load(folder / "missing.bin"));
  EXPECT_EQ(image.LastError().Message(), (folder / "missing.bin") + ": The file could not be opened: No such file or directory");
  EXPECT_EQ(image.BlockCount(), 0u);
}

// The size is known before the reading starts: what has none (it is no regular file), or is
// above 16 MiB, is refused before a byte is read, and no open waits for a pipe's writer.
TEST(BinaryImageTest, AFileOfUnknownOrTooLargeSizeIsRefusedBeforeItIsRead) {
  CTempFolder folder;
  const std::string tooLarge = folder / "too-large.bin";
  {
    std::ofstream file(tooLarge);  // sparse: no disk space and, when refused, no memory either
  }
  std::filesystem::resize_file(tooLarge, 100'000'000);
  const std::string justAbove = folder / "just-above.bin";
  {
    std::ofstream file(justAbove);
  }
  std::filesystem::resize_file(justAbove, CBinaryImage::kMaxFileSize + 1);
  const std::string pipe = folder / "pipe.bin";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0) << "opening it must not wait for a writer";
  const std::pair<std::string, std::string> cases[] = {
      {"/dev/null", "/dev/null: This is not a regular file; an image is read only from a file whose size is known."},
      {"/dev/zero", "/dev/zero: This is not a regular file; an image is read only from a file whose size is known."},
      {pipe, pipe + ": This is not a regular file; an image is read only from a file whose size is known."},
      {folder.Path().string(), folder.Path().string() +
                                   ": This is not a regular file; an image is read only from a file whose size is known."},
      {tooLarge, tooLarge + ": The image is 100000000 bytes; an image larger than 16777216 bytes is refused."},
      {justAbove, justAbove + ": The image is 16777217 bytes; an image larger than 16777216 bytes is refused."},
  };
  for (const auto& [path, message] : cases) {
    CBinaryImage image;
    EXPECT_FALSE(image.Load(path)) << path;
    EXPECT_EQ(image.LastError().Message(), message);
    EXPECT_EQ(image.FileSize(), 0u) << path << ": nothing was read";
  }
}

}  // namespace
