#include "platform/text_format.h"

#include <cstdio>
#include <vector>

std::string FormatTextV(const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) return {};
  std::string result(static_cast<std::size_t>(length) + 1, '\0');
  std::vsnprintf(result.data(), result.size(), format, args);
  result.resize(static_cast<std::size_t>(length));
  return result;
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string result = FormatTextV(format, args);
  va_end(args);
  return result;
}

std::string FormatMessage(std::string_view text, std::initializer_list<std::string_view> args) {
  std::vector<std::string_view> values(args);
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
      std::size_t index = static_cast<std::size_t>(text[i + 1] - '1');
      if (index < values.size()) result += values[index];
      ++i;
    } else {
      result += text[i];
    }
  }
  return result;
}
