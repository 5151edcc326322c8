// What the C28xx family adds to the program: its updater by catalog class name. Its USB
// product id comes from the catalog entry, and an id nobody registers is served by the
// second-generation driver, which is the C28xx device's; its word HEX images are listed by
// the program download's own `inspect` kind (hex16).

#include "devices/c28xx/interface_c28xx.h"
#include "updater/updater_registry.h"
#include "updater/updater_usb_products.h"

namespace {

const RegisterUpdater<CUpdaterC28XX> g_registerC28XX("CUpdaterC28XX");

const RegisterUpdaterUsbProducts g_usbC28XX("CUpdaterC28XX", {kCatalogUsbPid});

}  // namespace
