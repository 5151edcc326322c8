#pragma once
// Response files on the command line: "@file" stands for the arguments written in the file.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CResponseFile {
 public:
  // The largest response file that is read: far above any command line, and a bound on what
  // a file that never ends (@/dev/zero) can take.
  static constexpr std::size_t kMaxBytes = 1024 * 1024;

  // The file's arguments, or nothing when it cannot be opened, is not a regular file (a pipe,
  // a device) or is larger than kMaxBytes (then `tooLarge`, when given, is set).
  static std::optional<std::vector<std::string>> Read(const std::string& path, bool* tooLarge = nullptr);
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

// The program's arguments with every "@file" replaced by the file's arguments; a file that
// cannot be opened is skipped, and so is one larger than CResponseFile::kMaxBytes, whose path
// is added to `refused` (when given). Arguments read from a file are taken as they are.
std::vector<std::string> ExpandResponseFiles(const std::vector<std::string>& args,
                                             std::vector<std::string>* refused = nullptr);
