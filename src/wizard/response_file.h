#pragma once
// Response files on the command line: "@file" stands for the arguments written in the file.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/input_file.h"

// A response file that was there but was not read, kept until the language to tell it in is
// known.
struct CRefusedResponseFile {
  std::string Path;
  CInputFile::EFailure Failure = CInputFile::EFailure::None;
  int Error = 0;  // the system's error number of a file that could not be read
};
// What the person is told about it, in the current language.
std::string RefusalText(const CRefusedResponseFile& refused);

class CResponseFile {
 public:
  // The largest response file that is read: far above any command line, and a bound on what
  // a file that never ends (@/dev/zero) can take.
  static constexpr std::size_t kMaxBytes = 1024 * 1024;

  // The file's arguments, or nothing when it is missing, cannot be read, is not a regular file
  // (a pipe, a device) or is larger than kMaxBytes; but for a missing file, `refused` (when
  // given) then says why.
  static std::optional<std::vector<std::string>> Read(const std::string& path,
                                                      std::optional<CRefusedResponseFile>* refused = nullptr);
  // UTF-16 text (by byte-order mark or by content) or text in the system's narrow encoding,
  // as UTF-8.
  static std::string Decode(std::string_view bytes);
  // Splits at white space (tab, line feed, vertical tab, form feed, carriage return, blank);
  // ";" where an argument would begin comments out the rest of the line; double quotes enclose
  // white space and are removed; an unterminated quote runs to the end of the text.
  static std::vector<std::string> Split(std::string_view text);
  // Whether the bytes are UTF-16 text: a byte-order mark, or the zero bytes of Latin text.
  static bool LooksLikeUtf16(std::string_view bytes, bool& bigEndian);
};

// The program's arguments with every "@file" replaced by the file's arguments; a missing file
// is skipped, and so is one that cannot be read, is no regular file or is larger than
// CResponseFile::kMaxBytes, which is added to `refused` (when given). Arguments read from a
// file are taken as they are.
std::vector<std::string> ExpandResponseFiles(const std::vector<std::string>& args,
                                             std::vector<CRefusedResponseFile>* refused = nullptr);
