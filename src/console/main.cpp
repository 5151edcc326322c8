#include "console/commands.h"

int main(int argc, char** argv) { return RunConsole(CommandArgs(argv + 1, argv + argc)); }
