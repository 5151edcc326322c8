#include "platform/ascii_text.h"

#include <gtest/gtest.h>

namespace {

TEST(AsciiText, CutToBufferKeepsRoomForTheZeroAndWholeCharacters) {
  const struct {
    std::string text;
    std::size_t maxChars;
    std::string cut;
  } cases[] = {
      {"Quadrel", 0, ""},          {"Quadrel", 1, ""},        {"Quadrel", 4, "Qua"},
      {"Quadrel", 8, "Quadrel"},   {"Gr\xC3\xBC\xC3\x9F", 4, "Gr\xC3\xBC"},  // ü is two bytes, one character
      {"\xD0\x9F\xD1\x80", 2, "\xD0\x9F"},
  };
  for (const auto& c : cases) EXPECT_EQ(CutToBuffer(c.text, c.maxChars), c.cut) << c.text << " " << c.maxChars;
}

TEST(AsciiText, CaseFoldsAsciiLettersOnly) {
  EXPECT_EQ(ToLowerAscii("PIPE02 {0C4D-AB}"), "pipe02 {0c4d-ab}");
  EXPECT_EQ(ToLowerAscii("\xC3\x9C"), "\xC3\x9C");  // not a letter in ASCII: left as it is
  EXPECT_TRUE(EqualsIgnoringAsciiCase("Debug", "dEBUG"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("debug", "debugs"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("\xC3\x9C", "\xC3\xBC"));
}

}  // namespace
