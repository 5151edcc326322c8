#pragma once
// The system's texts are printf formats and "%1"-style templates. Both are formatted here,
// into a string sized to the result, so a long value can never overrun a buffer.

#include <cstdarg>
#include <initializer_list>
#include <string>
#include <string_view>

// printf-style formatting into a string of exactly the needed length.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char* format, va_list args);

// Replaces %1 .. %9 in `text` by the matching argument (empty when there is none); "%%" stays.
std::string FormatMessage(std::string_view text, std::initializer_list<std::string_view> args);
