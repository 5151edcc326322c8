#pragma once
// The "Language Selection" dialog (resource 3010): a drop-down list of the six languages, each
// in its own name, an OK button and the check box "Do not show this message in the future".
// Only the behaviour lives here; front ends draw it and forward the person's actions.

#include <optional>
#include <string>
#include <vector>

class CLanguageDialog {
 public:
  static constexpr int kDialogId = 3010;
  static constexpr int kOkButton = 1;      // IDOK
  static constexpr int kLabel = 900;
  static constexpr int kLanguageList = 201;
  static constexpr int kDontShowAgain = 202;

  // The list starts on `currentLangId` (English when it is not a held language); the box is
  // ticked when the dialog would not have been shown without the Shift key.
  CLanguageDialog(int currentLangId, bool dontShowAgain);

  std::string Title() const;
  std::string OkText() const;
  std::string CheckBoxText() const;
  // The language identifiers in list order, and each language's name in itself.
  static const std::vector<int>& Languages();
  static std::string LanguageName(int langId);

  int SelectedIndex() const { return m_index; }
  int SelectedLanguage() const { return Languages()[static_cast<std::size_t>(m_index)]; }
  // A line of the drop-down list was chosen; out-of-range indexes are ignored.
  void Select(int index);
  bool DontShowAgain() const { return m_dontShowAgain; }
  void SetDontShowAgain(bool ticked) { m_dontShowAgain = ticked; }

  // OK: the dialog ends with IDOK.
  std::optional<int> PressOk() const;
  // Escape or the close box: the dialog ends with IDCANCEL, nothing is applied or stored.
  std::optional<int> Cancel() const;

  // Runs the dialog through the user interface port.
  int DoModal();

 private:
  int m_index = 0;
  bool m_dontShowAgain;
};
