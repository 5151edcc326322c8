#pragma once
// Flash segments and the one cutter that makes them, for byte images (segment image files)
// and word images (the word-addressed HEX files) alike: a unit is a byte or a 16-bit word,
// and every address counts units.
//
// A segment is a whole region of the table, erased (all ones) until records fill it. The
// cutter copies each record into the current (last made) segment; the part of a record that
// lies outside it starts a new segment, also when a segment for that region was made before.
// So records of one region must follow each other. When the file is read, Trim drops the
// erased units at the end of each segment and rounds an odd size up.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "image/flash_region.h"

template <class Unit>
class CFlashSegment {
 public:
  static constexpr Unit kErased = std::numeric_limits<Unit>::max();

  // The segment of the region that holds `address`: the whole region, erased. The address
  // must lie in the table (std::out_of_range otherwise).
  CFlashSegment(std::uint32_t address, FlashRegionTable table) {
    std::optional<std::size_t> region = FindFlashRegion(table, address);
    if (!region) throw std::out_of_range("address outside the region table");
    Start = table[*region].Start;
    End = table[*region + 1].Start - 1;
    Size = End - Start + 1;
    Kind = table[*region].Kind;
    Data.assign(Size, kErased);
  }

  bool IsSent() const { return Kind != FLASH_REGION_NOT_SENT; }

  std::uint32_t Start;  // first address of the region
  std::uint32_t End;    // last address of the region (inclusive)
  std::uint32_t Size;   // units: the region size while loading; afterwards the units to send
  std::uint16_t Kind;   // the region's kind; 0 is never sent
  std::vector<Unit> Data;  // the image at offset (address - Start)
};

// The byte downloads announce the segments they send in one byte; the C28xx program download
// counts its segments in a 16-bit word.
inline constexpr std::size_t kMaxSentSegments = 255;
inline constexpr std::size_t kMaxSentWordSegments = 65535;
// Segments that are not sent do not count there, but each holds a region's buffer: at most one
// between, before and after the sent ones is what a sensible image has, and the bound keeps a
// hostile file from making a region-sized buffer per record.
constexpr std::size_t MaxFlashSegments(std::size_t maxSent) { return 2 * maxSent + 1; }
inline constexpr std::size_t kMaxFlashSegments = MaxFlashSegments(kMaxSentSegments);
// What all segment buffers of one image may take together: a word image may have many more
// segments than a byte image, and each holds a whole region.
inline constexpr std::size_t kMaxSegmentBufferBytes = 64u << 20;

// Why the cutter stopped: the address it could not place, and whether a bound was reached
// (then `Limit` is the bound) or the address lies outside the table.
struct CSegmentCutFailure {
  std::uint64_t Address;
  std::optional<std::size_t> Limit;
};

template <class Unit>
class CSegmentCutter {
 public:
  using Segment = CFlashSegment<Unit>;
  using SegmentArray = std::vector<std::unique_ptr<Segment>>;

  // `maxSent`: the most sent segments the download can announce.
  CSegmentCutter(SegmentArray& segments, FlashRegionTable table, std::size_t maxSent = kMaxSentSegments)
      : m_segments(segments), m_table(table), m_maxSent(maxSent) {
    for (const auto& segment : segments) {
      m_sent += segment->IsSent() ? 1 : 0;
      m_bufferBytes += segment->Data.size() * sizeof(Unit);
    }
  }

  // Copies `count` units for `address` on into the segments. Nothing, or why it failed.
  std::optional<CSegmentCutFailure> Add(std::uint32_t address, const Unit* data, std::uint32_t count) {
    // The first record makes a segment even when it is empty.
    if (m_current == nullptr) {
      if (auto failure = StartSegment(address)) return failure;
    }
    std::uint64_t at = address;
    std::uint32_t done = 0;
    while (done < count) {
      if (at > UINT32_MAX) return CSegmentCutFailure{at, std::nullopt};
      auto address32 = static_cast<std::uint32_t>(at);
      if (address32 < m_current->Start || address32 > m_current->End) {
        if (auto failure = StartSegment(address32)) return failure;
      }
      std::uint32_t fit = std::min<std::uint32_t>(count - done, m_current->End - address32 + 1);
      std::copy_n(data + done, fit, m_current->Data.begin() + (address32 - m_current->Start));
      done += fit;
      at += fit;
    }
    return std::nullopt;
  }

  // Whether, once trimmed, any segment that goes to the device has a unit to send.
  static bool HasDataToSend(const SegmentArray& segments) {
    return std::any_of(segments.begin(), segments.end(),
                       [](const auto& segment) { return segment->IsSent() && segment->Size > 0; });
  }

  // Drops the erased units at the end of every segment and rounds an odd size up (the added
  // unit is an erased one; a region of odd size grows by it). The sum of the sizes.
  static std::uint32_t Trim(SegmentArray& segments) {
    std::uint32_t total = 0;
    for (auto& segment : segments) {
      while (segment->Size > 0 && segment->Data[segment->Size - 1] == Segment::kErased) --segment->Size;
      if (segment->Size % 2 != 0) {
        if (segment->Size == segment->Data.size()) segment->Data.push_back(Segment::kErased);
        ++segment->Size;
      }
      total += segment->Size;
    }
    return total;
  }

 private:
  std::optional<CSegmentCutFailure> StartSegment(std::uint32_t address) {
    std::optional<std::size_t> region = FindFlashRegion(m_table, address);
    if (!region) return CSegmentCutFailure{address, std::nullopt};
    const bool sent = m_table[*region].Kind != FLASH_REGION_NOT_SENT;
    if (sent && m_sent >= m_maxSent) return CSegmentCutFailure{address, m_maxSent};
    if (m_segments.size() >= MaxFlashSegments(m_maxSent)) return CSegmentCutFailure{address, MaxFlashSegments(m_maxSent)};
    const std::size_t regionBytes = (m_table[*region + 1].Start - m_table[*region].Start) * sizeof(Unit);
    if (m_bufferBytes + regionBytes > kMaxSegmentBufferBytes) return CSegmentCutFailure{address, m_segments.size()};
    m_segments.push_back(std::make_unique<Segment>(address, m_table));
    m_current = m_segments.back().get();
    m_sent += sent ? 1 : 0;
    m_bufferBytes += regionBytes;
    return std::nullopt;
  }

  SegmentArray& m_segments;
  FlashRegionTable m_table;
  std::size_t m_maxSent;
  Segment* m_current = nullptr;
  std::size_t m_sent = 0;
  std::size_t m_bufferBytes = 0;
};
