// What the ZT7720 family adds to the program: its two updaters by catalog class name. The
// units are reached over the network, so the family has no USB product id.

#include "devices/zt7720/updater_tcpip.h"
#include "updater/updater_registry.h"

namespace {

const RegisterUpdater<CUpdater5R> g_register5R("CUpdater5R");
const RegisterUpdater<CUpdater5S> g_register5S("CUpdater5S");

}  // namespace
