// The automotive trainer's firmware text file on arbitrary bytes. A load is refused with a
// reason, or gives lines that, joined again with line feeds, are the text before the first
// end-of-file character with each CR LF read as LF and one final line feed dropped; no line
// holds a line feed or the end-of-file character.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "devices/automotive/motrevo_text_file.h"
#include "image/image_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CImageFile file;
  file.OpenMemory(bytes, "trainer.txt");
  CMotrevoTextFile text;
  const bool loaded = text.Load(file);

  // The text as sent, worked out from the bytes by hand.
  const std::string_view before = bytes.substr(0, bytes.find(static_cast<char>(CMotrevoTextFile::kEndOfFile)));
  std::string expected;
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (before[i] == '\r' && i + 1 < before.size() && before[i + 1] == '\n') continue;
    expected += before[i];
  }
  if (!expected.empty() && expected.back() == '\n') expected.pop_back();
  const bool anyCharacter = std::any_of(expected.begin(), expected.end(), [](char c) { return c != '\n'; });

  if (!loaded) {
    if (!text.LastError().IsSet() || text.LastError().Message().empty()) std::abort();
    if (text.LineCount() != 0 || anyCharacter) std::abort();  // only a text with nothing to send is refused
    return 0;
  }
  if (text.LastError().IsSet() || !anyCharacter) std::abort();
  std::string joined;
  for (std::size_t i = 0; i < text.LineCount(); ++i) {
    const auto line = text.Line(i);
    if (std::find(line.begin(), line.end(), '\n') != line.end()) std::abort();
    if (std::find(line.begin(), line.end(), CMotrevoTextFile::kEndOfFile) != line.end()) std::abort();
    if (i > 0) joined += '\n';
    joined.append(line.begin(), line.end());
  }
  if (joined != expected) std::abort();
  return 0;
}
