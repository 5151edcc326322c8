#include "devices/servo/gci_handle_table.h"

std::optional<std::uint8_t> CGciHandleTable::Take() {
  for (std::size_t step = 1; step <= kSlots; ++step) {
    const auto slot = static_cast<std::uint8_t>(m_last + step);
    if (!m_taken[slot]) {
      m_taken[slot] = true;
      m_last = slot;
      return slot;
    }
  }
  return std::nullopt;
}
