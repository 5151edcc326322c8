#include "platform/ascii_text.h"

#include <algorithm>

char ToLowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string ToLowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = ToLowerAscii(c);
  return lower;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ToLowerAscii(x) == ToLowerAscii(y); });
}

std::string CutToBuffer(const std::string& text, std::size_t maxChars) {
  if (maxChars == 0) return {};
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool startsCharacter = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (startsCharacter && ++characters > maxChars - 1) return text.substr(0, i);
  }
  return text;
}

namespace {

// The bytes of the UTF-8 character that begins at `text[at]` (1 for a stray byte).
std::size_t Utf8CharacterLength(const std::string& text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  return std::min(length, text.size() - at);
}

}  // namespace

bool EqualOverUtf8Characters(const std::string& a, const std::string& b, std::size_t count) {
  std::size_t i = 0;
  std::size_t j = 0;
  for (std::size_t character = 0; character < count; ++character) {
    if (i == a.size() || j == b.size()) return i == a.size() && j == b.size();
    std::size_t lengthA = Utf8CharacterLength(a, i);
    std::size_t lengthB = Utf8CharacterLength(b, j);
    if (a.compare(i, lengthA, b, j, lengthB) != 0) return false;
    i += lengthA;
    j += lengthB;
  }
  return true;
}
