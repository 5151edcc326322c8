#pragma once
// `list`: the start page's lines (Id, a tab, Name), one per Device, in catalog order.

#include "console/commands.h"

int RunListCommand(const CommandArgs& args);
