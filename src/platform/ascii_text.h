#pragma once
// Text helpers that must not depend on the locale: device paths, GUIDs, switches and names
// compare in ASCII whatever language the person runs, and texts cut for a fixed buffer never
// split a UTF-8 character.

#include <cstddef>
#include <string>
#include <string_view>

char ToLowerAscii(char c);
std::string ToLowerAscii(std::string_view text);
// Equal but for the case of ASCII letters.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
// The first `maxChars` - 1 characters of a UTF-8 text (room for the terminating zero of a
// buffer of `maxChars`), never cutting a character in two; empty for 0.
std::string CutToBuffer(const std::string& text, std::size_t maxChars);
