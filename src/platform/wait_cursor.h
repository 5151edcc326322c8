#pragma once
// The wait cursor for the length of a scope.

class IUserInterface;

class CWaitCursor {
 public:
  CWaitCursor();
  ~CWaitCursor();
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;

 private:
  IUserInterface* m_ui;
};
