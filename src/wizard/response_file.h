#pragma once
// Response files on the command line: "@file" stands for the arguments written in the file.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CResponseFile {
 public:
  // The file's arguments, or nothing when it cannot be opened.
  static std::optional<std::vector<std::string>> Read(const std::string& path);
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
// cannot be opened is skipped. Arguments read from a file are taken as they are.
std::vector<std::string> ExpandResponseFiles(const std::vector<std::string>& args);
