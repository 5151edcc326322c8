#include "platform/wait_cursor.h"

#include "platform/user_interface.h"

// The core may block before any front end is installed (tests of a transport alone); then
// there is no cursor to change.
CWaitCursor::CWaitCursor() : m_ui(InstalledUserInterface()) {
  if (m_ui != nullptr) m_ui->BeginWaitCursor();
}

CWaitCursor::~CWaitCursor() {
  if (m_ui != nullptr) m_ui->EndWaitCursor();
}
