#include "platform/string_table.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string_view>
#include <unordered_map>

namespace {

std::atomic<int> g_uiLanguage{LANG_ENGLISH};

int ColumnOf(int langId) {
  const auto& held = HeldLanguages();
  auto it = std::find(held.begin(), held.end(), langId);
  return it == held.end() ? -1 : static_cast<int>(it - held.begin());
}

const std::unordered_map<int, const StringRow*>& RowIndex() {
  static const auto index = [] {
    std::unordered_map<int, const StringRow*> map;
    for (std::size_t i = 0; i < kStringRowCount; ++i) map.emplace(kStringRows[i].id, &kStringRows[i]);
    return map;
  }();
  return index;
}

int SystemUiLanguage() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(var);
    if (value == nullptr || *value == '\0') continue;
    std::string_view locale(value);
    static const std::pair<std::string_view, int> prefixes[] = {
        {"de", LANG_GERMAN}, {"en", LANG_ENGLISH}, {"fr", LANG_FRENCH},
        {"nl", LANG_DUTCH},  {"ru", LANG_RUSSIAN}, {"es", LANG_SPANISH}};
    for (const auto& [prefix, id] : prefixes) {
      if (locale.substr(0, 2) == prefix) return id;
    }
    return LANG_ENGLISH;
  }
  return LANG_ENGLISH;
}

}  // namespace

const std::vector<int>& HeldLanguages() {
  static const std::vector<int> languages{LANG_ENGLISH, LANG_GERMAN,  LANG_FRENCH,
                                          LANG_DUTCH,   LANG_RUSSIAN, LANG_SPANISH};
  return languages;
}

bool IsHeldLanguage(int langId) { return ColumnOf(langId) >= 0; }

void SetUiLanguage(int langId) { g_uiLanguage = IsHeldLanguage(langId) ? langId : SystemUiLanguage(); }

int UiLanguage() { return g_uiLanguage; }

std::string LoadResString(int id) { return LoadResStringIn(id, UiLanguage()); }

std::string LoadResStringIn(int id, int langId) {
  int column = ColumnOf(langId);
  if (column < 0) return {};
  auto it = RowIndex().find(id);
  if (it == RowIndex().end() || it->second->text[column] == nullptr) return {};
  return it->second->text[column];
}
