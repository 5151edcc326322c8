#include "image/image_load_error.h"

#include <utility>

#include "image/image_strings.h"
#include "platform/shown_failure.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"

CImageLoadError CImageLoadError::AtLine(std::string file, int line, std::string reason) {
  CImageLoadError error;
  error.m_file = std::move(file);
  error.m_line = line;
  error.m_reason = std::move(reason);
  return error;
}

CImageLoadError CImageLoadError::AtOffset(std::string file, std::uint64_t offset, std::string reason) {
  CImageLoadError error;
  error.m_file = std::move(file);
  error.m_hasOffset = true;
  error.m_offset = offset;
  error.m_reason = std::move(reason);
  return error;
}

CImageLoadError CImageLoadError::ForFile(std::string file, std::string reason) {
  CImageLoadError error;
  error.m_file = std::move(file);
  error.m_reason = std::move(reason);
  return error;
}

std::string CImageLoadError::Message() const {
  if (!IsSet()) return {};
  if (m_line > 0) return FormatText("%s:%d: %s", m_file.c_str(), m_line, m_reason.c_str());
  if (m_hasOffset) {
    return FormatText("%s: offset %llu: %s", m_file.c_str(),
                      static_cast<unsigned long long>(m_offset), m_reason.c_str());
  }
  return m_file + ": " + m_reason;
}

void ShowImageRefusal(const CImageLoadError& error) {
  const std::string text = FormatMessage(LoadResString(IDS_IMAGE_REFUSED), {error.Message()});
  NoteShownFailure({IDS_IMAGE_REFUSED, text});
  UserInterface().MessageBox(text, MB_OK | MB_ICONERROR);
}
