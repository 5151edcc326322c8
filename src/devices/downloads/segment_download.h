#pragma once
// The segment download: a segment image file is cut into flash segments along a region table
// and sent segment by segment after a 0x1F header. The bootloaders of the 1A, 1Z and 2A
// (variants 1 and 2) interfaces and of the servo drive take their firmware this way.
//
// Frames, host to device (multi-byte values big-endian), each answered with "!":
//   1F 01 <count> 00 01               the header, one packet; count = segments of kind != 0
//   <start:4> <size:2> <kind:2>       per segment, one packet; size is the low 16 bits
//   <size data bytes>
// After the segments (also after a failure among them) the device is reset.
//
// The plan, shared by the sender and `inspect`: the image cut by ReadSegmentFile along the
// family's region table; the segments whose IsSent() holds leave, in the order they were made.

#include <string>

#include "image/flash_region.h"
#include "image/flash_seg.h"

class CStreamIO;

// The segments the plan sends.
unsigned SentSegmentCount(const CFlashSegArray& segments);

class CFlashUpdateSeg {
 public:
  // `stream` stays owned by the protocol object and must outlive this object.
  explicit CFlashUpdateSeg(CStreamIO* stream) : m_stream(stream) {}

  // Loads the segment image at `path` along `table` and sends it under the animation window.
  // An image that cannot be opened (the file error is shown) or does not load completely
  // (the refusal is shown) is never sent: false.
  bool UpdateFromFile(const std::string& path, FlashRegionTable table);

  // Sends the segments whose kind is not 0, then resets the device; `segments` is emptied.
  // False when more than 255 segments would be sent (nothing is sent), when the device
  // refuses the header (nothing more is sent, no reset), or when a
  // transfer fails or an acknowledgement is missing (the error is shown, the device reset).
  bool SendSegments(CFlashSegArray& segments);

 private:
  void SendHeader(unsigned count);
  void SendSegment(const CFlashSeg& segment);

  CStreamIO* m_stream;
};
