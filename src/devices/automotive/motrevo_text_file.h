#pragma once
// The automotive trainer's firmware file: text that the host does not parse, sent line by
// line. The trainer's bootloader reads each line itself and answers it with one byte.
//
// The file is read whole before anything goes to the trainer, so a read error cannot leave
// half a firmware in it; the same lines are what `inspect --as lines` lists. A line is what
// lies between line ends, without them: "\n", and "\r\n" as files written on other systems
// end their lines. A DOS end-of-file character (0x1A) ends the text, as it does for text read
// on those systems; what follows it is not sent. An empty line is kept: it goes out as a
// write of no bytes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "image/image_load_error.h"

class CMotrevoTextFile {
 public:
  // The largest file taken: far above any firmware the trainer holds, and a bound for a file
  // that never ends (a pipe, a device).
  static constexpr std::uint64_t kMaxFileSize = 16 * 1024 * 1024;
  static constexpr std::uint8_t kEndOfFile = 0x1A;

  // Reads an opened file to its end; nothing is shown. False when it is not a regular file,
  // is larger than kMaxFileSize or cannot be read (LastError() says why).
  bool Load(CImageFile& file);
  // Opens `path` and reads it; an open failure is in LastError() too.
  bool Load(const std::string& path);

  const CImageLoadError& LastError() const { return m_error; }
  std::size_t LineCount() const { return m_lines.size(); }
  // The bytes sent for the line: its characters, no line end.
  std::span<const std::uint8_t> Line(std::size_t index) const;

 private:
  void Split(const std::vector<std::uint8_t>& text);

  std::vector<std::vector<std::uint8_t>> m_lines;
  CImageLoadError m_error;
};
