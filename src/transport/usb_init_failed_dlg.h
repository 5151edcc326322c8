#pragma once
// The "Interface" dialog a USB transport shows when its device cannot be opened: try again,
// go on in simulation mode, or leave the program. Only the behaviour lives here; the front
// ends draw it and forward the person's actions.

#include <optional>
#include <string>

class CUsbInitFailedDlg {
 public:
  // Dialog control ids, which are also its result codes.
  static constexpr int kRepeatButton = 4;
  static constexpr int kSimulationButton = 6;
  static constexpr int kExitButton = 2;
  static constexpr int kTextControl = 101;

  CUsbInitFailedDlg(bool allowSimulation, bool allowExit, std::string productName);

  // 20002 with the Exit button, 20003 without.
  int TemplateId() const { return m_allowExit ? 20002 : 20003; }
  std::string Title() const;
  // String 20006 with the product name in place of %1.
  std::string Text() const;
  std::string ButtonText(int controlId) const;
  bool HasExitButton() const { return m_allowExit; }
  bool IsSimulationEnabled() const { return m_allowSimulation; }

  // The person pressed a button: the dialog's result, or nothing when the press is ignored
  // (a disabled or absent button).
  std::optional<int> PressButton(int controlId) const;
  // Escape or the close box: 2 with an Exit button, otherwise ignored.
  std::optional<int> Cancel() const;

  // Runs the dialog through the user interface port; a dialog that could not be shown (-1)
  // counts as Exit.
  int DoModal();

 private:
  bool m_allowSimulation;
  bool m_allowExit;
  std::string m_productName;
};
