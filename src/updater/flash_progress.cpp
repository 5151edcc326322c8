#include "updater/flash_progress.h"

#include <cstdarg>

#include "platform/text_format.h"

void IFlashProgress::SetStatusText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatTextV(format, args);
  va_end(args);
  ShowStatusText(text);
}
