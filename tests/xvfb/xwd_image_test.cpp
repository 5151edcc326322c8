// The framebuffer reader on hand-made pictures: both byte orders of the pixels, 24- and 32-bit
// pixels with padded lines, and files it must refuse rather than misread.

#include "support/xwd_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Layout {
  const char* name;
  std::uint32_t byteOrder;  // 0: least significant byte first, 1: most significant first
  std::uint32_t bitsPerPixel;
  std::uint32_t bytesPerLine;
  std::uint32_t visualClass = 4;  // TrueColor
};

void Put32(std::string& bytes, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>((value >> shift) & 0xFF);
}

// A 2 x 2 picture: 0x123456, 0xABCDEF in the first row, 0x000000, 0xFFFFFF in the second,
// behind a header naming the window "fb" and one colour-map entry that must be skipped.
std::string Picture(const Layout& layout) {
  const std::uint32_t fields[25] = {100 + 3, 7, 2, 24, 2, 2, 0, layout.byteOrder, 32, layout.byteOrder, 32,
                                    layout.bitsPerPixel, layout.bytesPerLine, layout.visualClass, 0xFF0000,
                                    0x00FF00, 0x0000FF, 8, 256, 1, 2, 2, 0, 0, 0};
  std::string bytes;
  for (std::uint32_t field : fields) Put32(bytes, field);
  bytes += std::string("fb\0", 3);
  bytes += std::string(12, '\x5A');  // the colour-map entry
  const std::uint32_t pixels[2][2] = {{0x123456, 0xABCDEF}, {0x000000, 0xFFFFFF}};
  const std::size_t size = layout.bitsPerPixel / 8;
  for (const auto& row : pixels) {
    std::string line;
    for (std::uint32_t pixel : row) {
      for (std::size_t i = 0; i < size; ++i) {
        const std::size_t shift = 8 * (layout.byteOrder == 1 ? size - 1 - i : i);
        line += static_cast<char>((pixel >> shift) & 0xFF);
      }
    }
    line.resize(layout.bytesPerLine, '\x77');  // padding the reader must step over
    bytes += line;
  }
  return bytes;
}

TEST(XwdImage, ReadsTrueColourPicturesInEitherByteOrder) {
  const Layout layouts[] = {
      {"32-bit, least significant first", 0, 32, 8},
      {"32-bit, most significant first", 1, 32, 12},
      {"24-bit, least significant first", 0, 24, 8},
      {"24-bit, most significant first", 1, 24, 6},
  };
  for (const Layout& layout : layouts) {
    std::string error;
    auto image = CXwdImage::Parse(Picture(layout), error);
    ASSERT_TRUE(image.has_value()) << layout.name << ": " << error;
    EXPECT_EQ(image->Width(), 2) << layout.name;
    EXPECT_EQ(image->Height(), 2) << layout.name;
    EXPECT_EQ(image->Pixel(0, 0), 0x123456u) << layout.name;
    EXPECT_EQ(image->Pixel(1, 0), 0xABCDEFu) << layout.name;
    EXPECT_EQ(image->Pixel(0, 1), 0x000000u) << layout.name;
    EXPECT_EQ(image->Pixel(1, 1), 0xFFFFFFu) << layout.name;
    EXPECT_EQ(image->CountColours(image->Bounds()), 4u) << layout.name;
    EXPECT_EQ(image->CountOtherThan({0, 0, 2, 1}, 0x123456), 1u) << layout.name;
  }
}

TEST(XwdImage, RefusesWhatItCannotReadWhole) {
  const std::string good = Picture({"32-bit", 0, 32, 8});
  std::string pseudoColour = Picture({"palette", 0, 32, 8, 3});
  std::string narrowLines = Picture({"lines shorter than the pixels", 0, 32, 6});
  const std::pair<const char*, std::string> cases[] = {
      {"a header cut short", good.substr(0, 60)},
      {"pixels cut short", good.substr(0, good.size() - 1)},
      {"a palette picture", pseudoColour},
      {"lines shorter than their pixels", narrowLines},
  };
  for (const auto& [name, bytes] : cases) {
    std::string error;
    EXPECT_FALSE(CXwdImage::Parse(bytes, error).has_value()) << name;
    EXPECT_FALSE(error.empty()) << name;
  }
}

}  // namespace
