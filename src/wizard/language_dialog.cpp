#include "wizard/language_dialog.h"

#include <algorithm>

#include "platform/string_table.h"
#include "platform/user_interface.h"

CLanguageDialog::CLanguageDialog(int currentLangId, bool dontShowAgain) : m_dontShowAgain(dontShowAgain) {
  const auto& languages = Languages();
  auto it = std::find(languages.begin(), languages.end(), currentLangId);
  if (it == languages.end()) it = std::find(languages.begin(), languages.end(), LANG_ENGLISH);
  m_index = static_cast<int>(it - languages.begin());
}

std::string CLanguageDialog::Title() const { return LoadResString(DialogStringId(kDialogId, 0)); }

std::string CLanguageDialog::OkText() const { return LoadResString(DialogStringId(kDialogId, kOkButton)); }

std::string CLanguageDialog::CheckBoxText() const {
  return LoadResString(DialogStringId(kDialogId, kDontShowAgain));
}

const std::vector<int>& CLanguageDialog::Languages() {
  static const std::vector<int> languages{LANG_GERMAN, LANG_ENGLISH, LANG_FRENCH,
                                          LANG_DUTCH,  LANG_RUSSIAN, LANG_SPANISH};
  return languages;
}

std::string CLanguageDialog::LanguageName(int langId) {
  switch (langId) {
    case LANG_GERMAN: return "Deutsch";
    case LANG_ENGLISH: return "English";
    case LANG_FRENCH: return "Français";
    case LANG_DUTCH: return "Nederlands";
    case LANG_RUSSIAN: return "Русский";
    case LANG_SPANISH: return "Español";
    default: return {};
  }
}

void CLanguageDialog::Select(int index) {
  if (index >= 0 && index < static_cast<int>(Languages().size())) m_index = index;
}

std::optional<int> CLanguageDialog::PressOk() const { return IDOK; }

std::optional<int> CLanguageDialog::Cancel() const { return IDCANCEL; }

int CLanguageDialog::DoModal() {
  int result = UserInterface().RunLanguageDialog(*this);
  return result == IDOK ? IDOK : IDCANCEL;
}
