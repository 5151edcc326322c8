#include "image/binary_image.h"

#include <gtest/gtest.h>

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

TEST(BinaryImageTest, AnEmptyFileHasNoBlock) {
  CTempFolder folder;
  CBinaryImage image;
  ASSERT_TRUE(image.Load(folder.Write("empty.bin", "")));
  EXPECT_EQ(image.BlockCount(), 0u);
}

TEST(BinaryImageTest, AFileThatCannotBeReadIsRefused) {
  CTempFolder folder;
  CBinaryImage image;
  EXPECT_FALSE(image.Load(folder / "missing.bin"));
  EXPECT_EQ(image.LastError().Message(), (folder / "missing.bin") + ": The file could not be opened: No such file or directory");
  EXPECT_FALSE(image.Load(folder.Path().string()));
  EXPECT_EQ(image.LastError().Message(), folder.Path().string() + ": offset 0: The file could not be read: Is a directory");
  EXPECT_EQ(image.BlockCount(), 0u);
}

}  // namespace
