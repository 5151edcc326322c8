#pragma once
// The program download of the C28xx bootloader: a word-addressed Intel HEX image is cut into
// segments along the C28xx region table and sent segment by segment. The C28xx device takes
// its firmware this way with two-byte commands (0x00, then the command byte); the servo
// drive's C28xx-based control unit takes the same sequence with single-byte commands.
//
// Frames with two-byte commands, host to device (headers big-endian):
//   00 1E                                  start; after 2000 ms the input is drained
//   00 1F 00 01 <count:2>          -> 00 00   one packet; count = segments of kind != 0
//   <start:4> <words:2> <kind:2>   -> 00 21   per segment, one packet
//   <words x 2 bytes>              -> 00 00   each word low byte first; read after 1000 ms
//   00 21                                     after 1000 ms; not answered
// With single-byte commands 00 1E, 00 1F and 00 21 are the single bytes 1E, 1F and 21, and the
// segment header is answered with the single byte 21.
//
// The plan, shared by the sender and `inspect --as hex16`: the image loaded along the table;
// the segments whose IsSent() holds leave, in the order they were made.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/hex_file_reader16.h"
#include "image/image_load_error.h"

class CStreamIO;

// The bootloader programs a segment before it answers; it needs the pause after the start too.
inline constexpr std::uint32_t kC28xxStartPause = 2000;
inline constexpr std::uint32_t kC28xxSegmentPause = 1000;
inline constexpr std::uint32_t kC28xxEndPause = 1000;

class CC28xxProgramPlan {
 public:
  // Loads the file `reader` has open; the refusal when it does not load completely.
  CImageLoadError Load(CIntelHexFileReader16& reader);

  // Every segment made, the ones that stay home too.
  const CFlashSeg16Array& Segments() const { return m_segments; }
  // The segments that are sent, in sending order.
  std::vector<const CFlashSeg16*> SentSegments() const;
  // The sum of the segment sizes in words, as the loader counts it.
  std::uint32_t TotalWords() const { return m_total; }

  // A segment's words as they leave: each word low byte first.
  static std::vector<std::uint8_t> WireBytes(const CFlashSeg16& segment);

 private:
  CFlashSeg16Array m_segments;
  std::uint32_t m_total = 0;
};

class CFlashUpdateC28XX {
 public:
  // `stream` stays owned by the protocol object and must outlive this object.
  explicit CFlashUpdateC28XX(CStreamIO* stream) : m_stream(stream) {}

  // Loads the word HEX image at `path` and sends it under the animation window, with
  // single-byte or two-byte commands. True when the device took every segment. An image that
  // cannot be opened (the file error is shown) or does not load completely (the refusal is
  // shown) is never sent. Any failure while sending (a transfer error, a status other than 0,
  // an acknowledgement other than 0x21) ends it with false and no message; the animation
  // stops and the segments are freed on every way out.
  bool ProgramFile(const std::string& path, bool singleByteCommands);

 private:
  void Send(const CC28xxProgramPlan& plan);
  void WriteCommand(std::uint8_t command);
  void SendSegment(const CFlashSeg16& segment);
  // Reads a 16-bit status; anything but 0 raises 20016.
  void ExpectStatus();

  CStreamIO* m_stream;
  bool m_singleByteCommands = false;
};
