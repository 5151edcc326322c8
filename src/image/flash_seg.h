#pragma once
// Flash segments of a segment image file, and the reader that cuts such a file into them.
//
// A segment image file is a sequence of records until the end of the file, little-endian,
// with no header and no checksum: load address (4 bytes), data length n (4 bytes, at most
// 1024), n data bytes. ReadSegmentFile copies each record into the segment of its region;
// only the current (last made) segment is examined, so records of one region must follow
// each other: a record that returns to an earlier region starts a further segment for it.
//
// The cutting is flash_segment.h's, shared with the word images.
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

#include "image/flash_segment.h"
#include "image/image_file.h"

using CFlashSeg = CFlashSegment<std::uint8_t>;
// Segments in the order they were made; the owner's array deletes them.
using CFlashSegArray = CSegmentCutter<std::uint8_t>::SegmentArray;

// The longest record a segment image file may hold.
constexpr std::uint32_t kSegmentRecordMax = 1024;

// Reads the rest of `file` into `segments` along `table`, then drops trailing 0xFF bytes
// from each segment's size and rounds an odd size up. Returns the sum of the sizes, or 0 on a
// failure; then file.LastError() is set, and the segments made so far stay in the array.
std::uint32_t ReadSegmentFile(CImageFile& file, CFlashSegArray& segments, FlashRegionTable table);
