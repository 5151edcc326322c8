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

IUserInterface* CurrentUserInterface() { return g_ui.load(); }

std::string ApplicationName() { return LoadResString(57344); }
