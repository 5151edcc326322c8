// What the 2A family adds to the program: its four updaters by catalog class name, its USB
// product id (served by the first-generation driver) and its own region table for `inspect`.

#include "devices/2a/flash_regions_2a.h"
#include "devices/2a/interface_2a.h"
#include "devices/2a/quadrel_usb.h"
#include "image/image_listing.h"
#include "platform/usb_products.h"
#include "updater/updater_registry.h"
#include "updater/updater_usb_products.h"

namespace {

const RegisterUpdater<CUpdater2A1> g_register2A1("CUpdater2A1");
const RegisterUpdater<CUpdater2A2> g_register2A2("CUpdater2A2");
const RegisterUpdater<CUpdater2A3> g_register2A3("CUpdater2A3");
const RegisterUpdater<CUpdater2AB> g_register2AB("CUpdater2AB");

const RegisterUsbProducts g_products({CQuadrelUsb::kProductId}, EUsbDriverGeneration::First);

const RegisterRegionTable g_tableB("B", kFlashRegionsB);

const RegisterUpdaterUsbProducts g_usb2A1("CUpdater2A1", {CQuadrelUsb::kProductId});
const RegisterUpdaterUsbProducts g_usb2A2("CUpdater2A2", {CQuadrelUsb::kProductId});
const RegisterUpdaterUsbProducts g_usb2A3("CUpdater2A3", {CQuadrelUsb::kProductId});
const RegisterUpdaterUsbProducts g_usb2AB("CUpdater2AB", {CQuadrelUsb::kProductId});

}  // namespace
