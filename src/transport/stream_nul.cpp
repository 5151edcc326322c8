#include "transport/stream_nul.h"

#include <cstring>

void CStreamNUL::Read(std::uint8_t* buffer, unsigned count) {
  if (count > 0) std::memset(buffer, 0, count);
}
