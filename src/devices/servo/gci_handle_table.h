#pragma once
// The slots a request message may name in its byte 3. The download sequence creates the table
// anew for every download; a request takes the first free slot after the one taken last
// (wrapping), and a successful answer gives back the slot it names.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

class CGciHandleTable {
 public:
  static constexpr std::size_t kSlots = 256;

  // The slot for a new request, now taken; nothing when every slot is.
  std::optional<std::uint8_t> Take();
  void Free(std::uint8_t slot) { m_taken[slot] = false; }
  bool IsTaken(std::uint8_t slot) const { return m_taken[slot]; }

 private:
  std::array<bool, kSlots> m_taken{};
  // So that the first request takes slot 0.
  std::uint8_t m_last = kSlots - 1;
};
