#include "devices/automotive/motrevo_text_file.h"

#include <algorithm>
#include <optional>

#include "image/image_listing.h"
#include "image/image_strings.h"
#include "platform/string_table.h"
#include "platform/text_format.h"

namespace {

constexpr int kTooLargeMessage = 23600;  // resources/strings/automotive.inc

CImageLoadError ListTextLines(const std::string& path, FlashRegionTable /*table*/, IImageListingSink& sink) {
  CMotrevoTextFile file;
  if (!file.Load(path)) return file.LastError();
  for (std::size_t i = 0; i < file.LineCount(); ++i) {
    sink.Unit(FormatText("line %zu length %zu", i + 1, file.Line(i).size()), file.Line(i));
  }
  return {};
}

const RegisterImageKind g_lines("lines", ListTextLines);

}  // namespace

bool CMotrevoTextFile::Load(const std::string& path) {
  CImageFile file;
  if (!file.Open(path)) {
    m_lines.clear();
    m_error = file.LastError();
    return false;
  }
  return Load(file);
}

bool CMotrevoTextFile::Load(CImageFile& file) {
  m_lines.clear();
  m_error = {};
  // Known before it is read: a pipe or a device would be read without end otherwise.
  std::optional<std::uint64_t> size = file.RegularFileSize();
  if (!size) {
    m_error = CImageLoadError::ForFile(file.Name(), LoadResString(IDS_IMAGE_NOT_A_FILE));
    return false;
  }
  auto tooLarge = [&] {
    m_error = CImageLoadError::ForFile(
        file.Name(), FormatMessage(LoadResString(kTooLargeMessage), {std::to_string(kMaxFileSize)}));
    return false;
  };
  if (*size > kMaxFileSize) return tooLarge();
  std::vector<std::uint8_t> text;
  text.reserve(static_cast<std::size_t>(*size));
  for (;;) {
    std::span<const std::uint8_t> chunk = file.Peek();
    if (chunk.empty()) break;
    if (text.size() + chunk.size() > kMaxFileSize) return tooLarge();  // it grew while read
    text.insert(text.end(), chunk.begin(), chunk.end());
    file.Consume(chunk.size());
  }
  if (file.ReadFailed()) {
    m_error = CImageLoadError::AtOffset(file.Name(), file.Offset(),
                                        FormatMessage(LoadResString(IDS_IMAGE_READ_ERROR), {file.ReadErrorText()}));
    return false;
  }
  Split(text);
  // Without a character to send the trainer would stay in its loader, told nothing.
  if (std::all_of(m_lines.begin(), m_lines.end(), [](const auto& line) { return line.empty(); })) {
    m_lines.clear();
    m_error = CImageLoadError::ForFile(file.Name(), LoadResString(IDS_IMAGE_NO_DATA));
    return false;
  }
  return true;
}

void CMotrevoTextFile::Split(const std::vector<std::uint8_t>& text) {
  auto end = std::find(text.begin(), text.end(), kEndOfFile);
  auto begin = text.begin();
  while (begin != end) {
    auto lineEnd = std::find(begin, end, std::uint8_t{'\n'});
    auto last = lineEnd;
    if (lineEnd != end && last != begin && *(last - 1) == '\r') --last;
    m_lines.emplace_back(begin, last);
    if (lineEnd == end) break;
    begin = lineEnd + 1;
  }
}

std::span<const std::uint8_t> CMotrevoTextFile::Line(std::size_t index) const { return m_lines[index]; }
