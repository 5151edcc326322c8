#pragma once
// The "Server Login" dialog a socket stream shows when its connection could not be opened:
// the server's address and port can be edited, then the person tries again, goes on in
// simulation mode, or leaves the program. Only the behaviour lives here; the front ends draw
// it and forward what the person does.

#include <cstdint>
#include <optional>
#include <string>

class CSocketLoginDlg {
 public:
  static constexpr int kTemplateId = 20004;
  // Control ids; the three buttons' ids are also the dialog's results.
  static constexpr int kRepeatButton = 4;
  static constexpr int kSimulationButton = 6;
  static constexpr int kExitButton = 2;
  static constexpr int kTextControl = 101;
  static constexpr int kAddressEdit = 151;
  static constexpr int kPortEdit = 152;
  static constexpr int kAddressLabel = 153;
  static constexpr int kPortLabel = 154;

  CSocketLoginDlg(bool allowSimulation, bool allowExit);

  // Texts of the dialog in the current language (title for control 0).
  std::string Text(int controlId) const;
  bool IsButtonEnabled(int controlId) const;

  // What the dialog shows when it opens, and what it returns after "Repeat Initialising".
  std::string host;
  std::uint16_t port = 0;

  // The person pressed a button with these field texts: the dialog's result, or nothing when
  // it stays open (a disabled button, or a field refused with a message box).
  std::optional<int> PressButton(int controlId, const std::string& hostText, const std::string& portText);
  // Escape or the close box: Exit when allowed, otherwise ignored.
  std::optional<int> Cancel() const;

  // Runs the dialog through the user interface port; -1 when it could not be shown.
  int DoModal();

  // The port field's text as the field keeps it: digits only, stored in 16 bits. Nothing
  // when it is not an unsigned number.
  static std::optional<std::uint16_t> ParsePort(const std::string& text);

 private:
  bool m_allowSimulation;
  bool m_allowExit;
};
