#pragma once
// The terminal's user interface: message boxes go to standard error with the application's
// name; questions become prompts when standard input is a terminal and take their cancelling
// answer otherwise; the "Interface" dialog follows --on-failure; the animation window and the
// progress page share one progress display.

#include <string>
#include <vector>

#include "console/console_progress.h"
#include "console/console_session.h"
#include "platform/user_interface.h"

class CConsoleUserInterface : public IUserInterface {
 public:
  explicit CConsoleUserInterface(ConsoleSession& session);

  CConsoleProgress& Progress() { return m_progress; }
  // A new status for the progress display, and for scripts a JSON "status" line.
  void SetStatus(const std::string& text);

  // A question on the terminal: prints the prompt and reads a line; nothing at the end of input.
  std::optional<std::string> Ask(const std::string& prompt);

  int MessageBox(const std::string& text, unsigned style) override;
  void Beep() override {}
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}
  bool IsShiftKeyDown() override { return false; }
  int RunInterfaceDialog(CUsbInitFailedDlg& dialog) override;
  // The language comes from --lang or the stored choice; the dialog is left with Escape.
  int RunLanguageDialog(CLanguageDialog& dialog) override;
  // Follows --on-failure as the "Interface" dialog does; asked, it prompts for the address
  // and the port first.
  int RunSocketLoginDialog(CSocketLoginDlg& dialog) override;
  // --address answers it; otherwise a terminal gets prompts (search, list, choose or type),
  // and a script takes the one unit of the wanted type that answers one search.
  int RunConnectDialog(CUdpConnectDlg& dialog) override;
  // Why the last "Connect" dialog ended without an address.
  enum class ConnectOutcome { Chosen, Cancelled, NoDevice, SeveralDevices, AddressRefused };
  ConnectOutcome LastConnectOutcome() const { return m_connectOutcome; }
  bool ShowAnimationWindow(int dialogId, int animationId) override;
  void SetAnimationText(const std::string& text) override;
  void CloseAnimationWindow() override;
  void EnableOwnerWindow(bool) override {}
  bool PumpPendingMessages() override { return true; }

 private:
  int AskInterfaceDialog(CUsbInitFailedDlg& dialog);
  int RetryInterfaceDialog(CUsbInitFailedDlg& dialog);
  int SimulateInterfaceDialog(CUsbInitFailedDlg& dialog);
  static int ExitInterfaceDialog(CUsbInitFailedDlg& dialog);
  int AskSocketLoginDialog(CSocketLoginDlg& dialog);
  int AskConnectDialog(CUdpConnectDlg& dialog);
  int PickOnlyDevice(CUdpConnectDlg& dialog);
  ConnectOutcome m_connectOutcome = ConnectOutcome::Cancelled;

  ConsoleSession& m_session;
  CConsoleProgress m_progress;
  int m_retries = 0;
};

// A dialog's button text without its mnemonic ampersand.
std::string WithoutMnemonic(const std::string& text);
