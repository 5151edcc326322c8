#pragma once
// Flash segments of a segment image file, and the reader that cuts such a file into them.
//
// A segment image file is a sequence of records until the end of the file, little-endian,
// with no header and no checksum: load address (4 bytes), data length n (4 bytes, at most
// 1024), n data bytes. ReadSegmentFile copies each record into the segment of its region;
// only the current (last made) segment is examined, so records of one region must follow
// each other: a record that returns to an earlier region starts a further segment for it.
//
// A load that stops before the end of the file (a record longer than 1024 bytes, a record cut
// short by the end of the file, an address outside every region, a read error) is a failure:
// the file's LastError() is then set with the byte offset of the record. A download refuses
// the image before it touches the device:
//
//   CImageFile file;
//   if (!file.OpenFile(path)) return false;              // the file error was shown
//   CFlashSegArray segments;
//   ReadSegmentFile(file, segments, kFlashRegionsA);
//   if (file.LastError().IsSet()) { ShowImageRefusal(file.LastError()); return false; }

#include <cstdint>
#include <memory>
#include <vector>

#include "image/flash_region.h"
#include "image/image_file.h"

class CFlashSeg {
 public:
  // The segment of the region that holds `address`: the whole region, its data 0xFF. The
  // address must lie in the table (std::out_of_range otherwise).
  CFlashSeg(std::uint32_t address, FlashRegionTable table);

  std::uint32_t Start;  // first address of the region
  std::uint32_t End;    // last address of the region (inclusive)
  std::uint32_t Size;   // the region size while loading; afterwards the bytes to send
  std::uint16_t Kind;   // the region's kind; 0 is never sent
  std::vector<std::uint8_t> Data;  // the image bytes at offset (address - Start)
};

// Segments in the order they were made; the owner's array deletes them.
using CFlashSegArray = std::vector<std::unique_ptr<CFlashSeg>>;

// The longest record a segment image file may hold.
constexpr std::uint32_t kSegmentRecordMax = 1024;
// The most segments one file may make: the segment download announces their number in one
// byte, and the bound keeps a hostile file from making a region-sized buffer per record.
constexpr std::size_t kMaxFlashSegments = 255;

// Reads the rest of `file` into `segments` along `table`, then drops trailing 0xFF bytes
// from each segment's size and rounds an odd size up. Returns the sum of the sizes, or 0 on a
// failure; then file.LastError() is set, and the segments made so far stay in the array.
std::uint32_t ReadSegmentFile(CImageFile& file, CFlashSegArray& segments, FlashRegionTable table);
