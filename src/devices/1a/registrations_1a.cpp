// What the 1A family adds to the program: its updater by catalog class name and its USB
// product id, served by the first-generation driver.

#include "devices/1a/interface_1a.h"
#include "devices/1a/usb_1a.h"
#include "platform/usb_products.h"
#include "updater/updater_registry.h"
#include "updater/updater_usb_products.h"

namespace {
const RegisterUpdater<CUpdater1A> g_register1A("CUpdater1A");
const RegisterUsbProducts g_products({CUsb1A::kProductId}, EUsbDriverGeneration::First);
const RegisterUpdaterUsbProducts g_usb1A("CUpdater1A", {CUsb1A::kProductId});

}  // namespace
