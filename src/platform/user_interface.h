#pragma once
// Everything the core shows to a person, and every question it asks, goes through this port.
// The behaviour of each dialog (validation, enabled buttons, what Escape does, the result
// code) lives in framework-neutral dialog classes; a front end only draws them and forwards
// what the person does. The Qt wizard, the terminal front end and the tests' scripted
// interface implement it. The core calls it from the thread that runs the core's work; an
// implementation that draws on another thread blocks the caller until the answer is there.

#include <memory>
#include <string>

class CUsbInitFailedDlg;
class CLanguageDialog;
class CSocketLoginDlg;
class CUdpConnectDlg;

// Message box styles and results (the platform's values, so that stored behaviour keeps them).
enum MessageBoxStyle : unsigned {
  MB_OK = 0x00,
  MB_OKCANCEL = 0x01,
  MB_YESNO = 0x04,
  MB_ICONERROR = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONWARNING = 0x30,
  MB_ICONINFORMATION = 0x40,
};
enum DialogResult : int { IDOK = 1, IDCANCEL = 2, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

class IUserInterface {
 public:
  virtual ~IUserInterface() = default;

  // A message box titled with the application's name (string 57344); returns the button.
  virtual int MessageBox(const std::string& text, unsigned style) = 0;
  // The system's default beep.
  virtual void Beep() = 0;
  virtual void BeginWaitCursor() = 0;
  virtual void EndWaitCursor() = 0;
  // Whether the Shift key is held down right now.
  virtual bool IsShiftKeyDown() = 0;

  // Modal dialogs: run until the dialog's logic ends it; return its result code.
  virtual int RunInterfaceDialog(CUsbInitFailedDlg& dialog) = 0;
  virtual int RunLanguageDialog(CLanguageDialog& dialog) = 0;
  // "Server Login": 4, 6 or 2 (the dialog's button), -1 when it could not be shown.
  virtual int RunSocketLoginDialog(CSocketLoginDlg& dialog) = 0;
  // "Connect": IDOK with the dialog's address set, IDCANCEL, -1 when it could not be shown.
  virtual int RunConnectDialog(CUdpConnectDlg& dialog) = 0;

  // The "Firmware Update" animation window. Show returns once the window is on screen, or
  // false when it could not be created; Close returns once it is gone.
  virtual bool ShowAnimationWindow(int dialogId, int animationId) = 0;
  virtual void SetAnimationText(const std::string& text) = 0;
  virtual void CloseAnimationWindow() = 0;
  // Enables or disables the window that owns the animation (the wizard).
  virtual void EnableOwnerWindow(bool enable) = 0;

  // Dispatches what waits for the calling thread; false when a quit request was met (the
  // request stays pending).
  virtual bool PumpPendingMessages() = 0;
};

// The interface in use (not owned). Front ends install theirs at start-up.
IUserInterface& UserInterface();
void SetUserInterface(IUserInterface* ui);
// The installed interface, or nullptr when none is (for a front end that installs its own for
// a while and puts the previous one back).
IUserInterface* InstalledUserInterface();

// The application's name (string 57344), the title of every message box.
std::string ApplicationName();

// "Exit Program" pressed in a dialog of the connect loop ("Interface", "Server Login"): the
// person wants to leave the program, not to pick another device. The connect fails as before;
// the wizard then ends instead of going back to its start page.
void RequestProgramExit();
bool ProgramExitRequested();
void ClearProgramExitRequest();
