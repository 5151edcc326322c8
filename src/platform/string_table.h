#pragma once
// Resource strings by number, in the user-interface language chosen at start-up.
// The rows live in resources/strings/*.inc, one TAVRIX_STRING(id, en, de, fr, nl, ru, es)
// line per string; a language whose text is empty has no string under that id.

#include <cstddef>
#include <string>
#include <vector>

// The language identifiers the program holds resources for.
enum LanguageId : int {
  LANG_GERMAN = 1031,
  LANG_ENGLISH = 1033,
  LANG_FRENCH = 1036,
  LANG_DUTCH = 1043,
  LANG_RUSSIAN = 1049,
  LANG_SPANISH = 3082,
};

struct StringRow {
  int id;
  const char* text[6];  // English, German, French, Dutch, Russian, Spanish (UTF-8)
};

// The six held languages in table-column order.
const std::vector<int>& HeldLanguages();

// True when the program holds resources for this language identifier.
bool IsHeldLanguage(int langId);

// Makes `langId` the language of every later LoadResString. An identifier the program does not
// hold (0 among them) selects the system's user-interface language from the environment
// (LC_ALL, LC_MESSAGES, LANG), and English when that is not held either.
void SetUiLanguage(int langId);

// The language LoadResString now answers in (always a held one).
int UiLanguage();

// The string with this id in the current language; empty when there is none.
std::string LoadResString(int id);

// Dialog texts (captions, buttons, labels) are strings too, numbered by their dialog and
// control: dialogId * 1000 + controlId, the caption under control 0. Labels without an id of
// their own take ids from 900 up.
constexpr int DialogStringId(int dialogId, int controlId) { return dialogId * 1000 + controlId; }

// The string with this id in the given held language; empty when there is none.
std::string LoadResStringIn(int id, int langId);

extern const StringRow kStringRows[];
extern const std::size_t kStringRowCount;
