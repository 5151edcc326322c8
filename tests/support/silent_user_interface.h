#pragma once
// A user interface for programs that run the core without a person: the benchmarks and the
// fuzzers. It shows nothing and answers every question with its first button; the connect
// loop's questions are answered "Exit".

#include <string>

#include "platform/user_interface.h"
#include "transport/stream_io.h"

class CSilentUserInterface : public IUserInterface {
 public:
  int MessageBox(const std::string&, unsigned) override { return IDOK; }
  void Beep() override {}
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}
  bool IsShiftKeyDown() override { return false; }
  int RunInterfaceDialog(CUsbInitFailedDlg&) override { return CStreamIO::kExit; }
  int RunLanguageDialog(CLanguageDialog&) override { return IDCANCEL; }
  int RunSocketLoginDialog(CSocketLoginDlg&) override { return CStreamIO::kExit; }
  int RunConnectDialog(CUdpConnectDlg&) override { return IDCANCEL; }
  bool ShowAnimationWindow(int, int) override { return true; }
  void SetAnimationText(const std::string&) override {}
  void CloseAnimationWindow() override {}
  void EnableOwnerWindow(bool) override {}
  bool PumpPendingMessages() override { return true; }
};
