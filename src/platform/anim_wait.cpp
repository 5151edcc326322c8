#include "platform/anim_wait.h"

#include <cstdarg>

#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"

CAnimWait::CAnimWait(int dialogId, int animationId) {
  IUserInterface& ui = UserInterface();
  // Returns once the window is on screen. When it cannot be shown there is no animation and
  // the owner stays enabled.
  m_running = ui.ShowAnimationWindow(dialogId, animationId);
  if (m_running) ui.EnableOwnerWindow(false);
}

CAnimWait::~CAnimWait() {
  IUserInterface& ui = UserInterface();
  ui.EnableOwnerWindow(true);
  if (m_running) {
    // Returns once the window is gone.
    ui.CloseAnimationWindow();
    m_running = false;
  }
}

void CAnimWait::SetText(const char* format, ...) {
  if (!m_running) return;
  va_list args;
  va_start(args, format);
  std::string text = FormatTextV(format, args);
  va_end(args);
  UserInterface().SetAnimationText(text);
}

void CAnimWait::SetText(int stringId) {
  if (!m_running) return;
  UserInterface().SetAnimationText(LoadResString(stringId));
}
