// What the 1Z family adds to the program: its updater by catalog class name and its USB
// product id, served by the first-generation driver.

#include "devices/1z/interface_1z.h"
#include "devices/1z/usb_1z.h"
#include "platform/usb_products.h"
#include "updater/updater_registry.h"
#include "updater/updater_usb_products.h"

namespace {
const RegisterUpdater<CUpdater1Z> g_register1Z("CUpdater1Z");
const RegisterUsbProducts g_products({CUsb1Z::kProductId}, EUsbDriverGeneration::First);
const RegisterUpdaterUsbProducts g_usb1Z("CUpdater1Z", {CUsb1Z::kProductId});

}  // namespace
