#include "transport/stream_exception.h"

#include "platform/string_table.h"
#include "platform/user_interface.h"

namespace {

void Beep() {
  if (IUserInterface* ui = InstalledUserInterface()) ui->Beep();
}

// The first `maxChars` - 1 characters of a UTF-8 text, never cutting a character in two.
std::string CutToBuffer(const std::string& text, std::size_t maxChars) {
  if (maxChars == 0) return {};
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool startsCharacter = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (startsCharacter && ++characters > maxChars - 1) return text.substr(0, i);
  }
  return text;
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
