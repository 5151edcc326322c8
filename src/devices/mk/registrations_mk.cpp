// What the MK family adds to the program: its updater by catalog class name. Its USB product
// id is the catalog entry's, served by the second-generation driver, which every id nobody
// registered gets.

#include "devices/mk/interface_mk.h"
#include "updater/updater_registry.h"
#include "updater/updater_usb_products.h"

namespace {
const RegisterUpdater<CUpdaterMK> g_registerMK("CUpdaterMK");
const RegisterUpdaterUsbProducts g_usbMK("CUpdaterMK", {kCatalogUsbPid});

}  // namespace
