#pragma once
// `discover [--type N]`: one search for the network units of a device type (7720 unless
// given), one line per unit in the order of their first answer: the Connect dialog's list
// text, a tab, the hardware address, a tab, the device type. Exit 0 with at least one unit,
// 3 with none.

#include "console/commands.h"

int RunDiscoverCommand(const CommandArgs& args);
