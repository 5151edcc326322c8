#pragma once
// `tavrix-update-cli udev-rule`: the udev rule that lets the person at the computer open every
// USB device the program can update, made from the product ids the device families register
// and those the catalog in use names. The build writes the packaged rule with it from the
// packaged catalog; a lab with a catalog of its own writes its rule the same way.

#include "console/commands.h"

int RunUdevRuleCommand(const CommandArgs& args);
