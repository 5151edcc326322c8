#pragma once
// `update ID`: the wizard's road for one catalog entry, through the wizard's own sheet and pages.

#include "console/commands.h"

int RunUpdateCommand(const CommandArgs& args);
