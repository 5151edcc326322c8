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
