#include "console/commands.h"
#include "platform/clock.h"

int main(int argc, char** argv) {
  // A simulated setup may shorten the device-side waits.
  InstallClockFromEnvironment();
  return RunConsole(CommandArgs(argv + 1, argv + argc));
}
