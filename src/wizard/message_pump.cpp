#include "wizard/message_pump.h"

#include "platform/user_interface.h"
#include "wizard/wizard_sheet.h"

bool PumpPendingMessages() {
  bool go = true;
  CWizardSheet* sheet = CWizardSheet::Running();
  if (sheet != nullptr) go = sheet->PumpPendingMessages();
  if (!UserInterface().PumpPendingMessages()) {
    // The front end met a quit request: the wizard ends once control returns to its run.
    if (sheet != nullptr) sheet->RequestQuit();
    go = false;
  }
  return go;
}
