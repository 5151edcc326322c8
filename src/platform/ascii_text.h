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
// Whether two UTF-8 texts agree in their first `count` characters, the way a bounded comparison
// of wide strings does: a text that ends within them matches only a text that ends at the same
// place. Identities are compared this way whatever the width of the device's characters.
bool EqualOverUtf8Characters(const std::string& a, const std::string& b, std::size_t count);
