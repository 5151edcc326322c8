#include "transport/stream_exception.h"

#include "platform/ascii_text.h"
#include "platform/string_table.h"
#include "platform/user_interface.h"
#include "platform/shown_failure.h"

namespace {

void Beep() {
  if (IUserInterface* ui = InstalledUserInterface()) ui->Beep();
}

}  // namespace

bool CStreamException::GetErrorMessage(std::string& text, std::size_t maxChars, int* helpContext) const {
  int id = MessageId();
  if (helpContext != nullptr) *helpContext = id;
  Beep();
  text = CutToBuffer(LoadResString(id), maxChars);
  return !text.empty();
}

int CStreamException::ReportError(unsigned style) const {
  std::string text;
  GetErrorMessage(text);
  NoteShownFailure({MessageId(), text});
  return UserInterface().MessageBox(text, style);
}

const char* CStreamException::what() const noexcept {
  try {
    GetErrorMessage(m_what);
  } catch (...) {
    m_what.clear();
  }
  return m_what.c_str();
}
