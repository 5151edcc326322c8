// What the ATMU family adds to the program: its updater by catalog class name. Its product id
// comes from the catalog entry and is served by the second-generation driver, which every id
// not registered otherwise gets; its `inspect` kind, the page image, is the page-wise
// programming's (devices/downloads/page_image.cpp).

#include "devices/atmu/interface_atmu.h"
#include "updater/updater_registry.h"
#include "updater/updater_usb_products.h"

namespace {

const RegisterUpdater<CUpdaterATMU> g_registerATMU("CUpdaterATMU");

const RegisterUpdaterUsbProducts g_usbATMU("CUpdaterATMU", {kCatalogUsbPid});

}  // namespace
