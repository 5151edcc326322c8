#pragma once
// `tavrix-update-cli devices [--probe]`: the USB devices on the bus in use, one line each: the
// device's stable id, the catalog Ids whose updater opens it (comma-separated, "-" for none),
// its friendly name and its device path, tab-separated; the first driver generation first,
// then the second, each in enumeration order. --probe connects to every device at the same
// time (identification only, nothing is programmed) and adds what it reported.

#include "console/commands.h"

int RunDevicesCommand(const CommandArgs& args);
