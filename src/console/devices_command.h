#pragma once
// `tavrix-update-cli devices`: the present device interfaces on the bus in use.

#include <cstdio>

#include "console/commands.h"

class IUsbBus;

// One line per present device interface: the device path, a tab, the friendly name (empty
// when none); the first-generation interface class first, then the second, each in
// enumeration order. False when there is none.
bool ListDeviceInterfaces(IUsbBus& bus, std::FILE* out);

int RunDevicesCommand(const CommandArgs& args);
