#include "platform/user_interface.h"

#include <atomic>
#include <cassert>

#include "platform/string_table.h"

namespace {
std::atomic<IUserInterface*> g_ui{nullptr};
}  // namespace

IUserInterface& UserInterface() {
  IUserInterface* ui = g_ui.load();
  assert(ui != nullptr && "a front end installs its user interface before the core runs");
  return *ui;
}

void SetUserInterface(IUserInterface* ui) { g_ui = ui; }

IUserInterface* InstalledUserInterface() { return g_ui.load(); }

std::string ApplicationName() { return LoadResString(57344); }

namespace {
std::atomic<bool> g_exitRequested{false};
}  // namespace

void RequestProgramExit() { g_exitRequested = true; }
bool ProgramExitRequested() { return g_exitRequested; }
void ClearProgramExitRequest() { g_exitRequested = false; }
