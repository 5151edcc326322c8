#include "console/commands.h"
#include "platform/clock.h"
#include "wizard/wizard_state.h"

int main(int argc, char** argv) {
  // A simulated setup may shorten the device-side waits.
  InstallClockFromEnvironment();
  // The updater and its transport are destroyed before the bus (see CProgramBus).
  CProgramBus bus(CreateUsbBusFromEnvironment());
  return RunConsole(CommandArgs(argv + 1, argv + argc));
}
