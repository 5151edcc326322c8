#pragma once
// Why an image load stopped before the end of its data, and where. A reader that meets a
// malformed line, a bad checksum, a record outside the image or the region table, a record
// cut short or a read error stops and keeps one of these; a download that finds one set
// refuses the image before it sends a byte to the device.

#include <cstdint>
#include <string>

class CImageLoadError {
 public:
  CImageLoadError() = default;

  // A failure on line `line` (1-based) of a HEX file.
  static CImageLoadError AtLine(std::string file, int line, std::string reason);
  // A failure at byte offset `offset` of a binary file (segment image, raw binary).
  static CImageLoadError AtOffset(std::string file, std::uint64_t offset, std::string reason);
  // A failure of the file as a whole (it cannot be opened).
  static CImageLoadError ForFile(std::string file, std::string reason);

  bool IsSet() const { return !m_reason.empty(); }
  const std::string& File() const { return m_file; }
  // The line number, or 0 when the failure is not tied to a line.
  int Line() const { return m_line; }
  bool HasOffset() const { return m_hasOffset; }
  std::uint64_t Offset() const { return m_offset; }
  // What is wrong, in the user-interface language.
  const std::string& Reason() const { return m_reason; }

  // "FILE:LINE: reason", "FILE: offset N: reason" or "FILE: reason"; empty when not set.
  std::string Message() const;

 private:
  std::string m_file;
  std::string m_reason;
  int m_line = 0;
  bool m_hasOffset = false;
  std::uint64_t m_offset = 0;
};

// Tells the person, in one error message box, that the image was not sent and why.
void ShowImageRefusal(const CImageLoadError& error);
