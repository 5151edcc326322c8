#include "wizard/wait_cursor.h"

#include "platform/user_interface.h"

CWaitCursor::CWaitCursor() { UserInterface().BeginWaitCursor(); }

CWaitCursor::~CWaitCursor() { UserInterface().EndWaitCursor(); }
