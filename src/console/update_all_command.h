#pragma once
// `update ID --all`: every attached device of the catalog entry's type, updated at the same
// time, each by a worker of its own (this program, `update ID --device DEVICE-ID --json`).
// One line per device while they work, a table of all of them at the end.

#include <string>

int RunUpdateAll(const std::string& id);
