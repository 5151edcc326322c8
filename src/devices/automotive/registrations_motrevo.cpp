// What the automotive trainer adds to the program: its updater by catalog class name and its
// USB product id, served by the second-generation driver. Its `inspect` kind, `lines`, is
// registered beside the file reader it lists through (motrevo_text_file.cpp).

#include "devices/automotive/motrevo.h"
#include "devices/automotive/motrevo_usb.h"
#include "platform/usb_products.h"
#include "updater/updater_registry.h"
#include "updater/updater_usb_products.h"

namespace {

const RegisterUpdater<CUpdaterMotrevo> g_registerMotrevo("CUpdaterMotrevo");

const RegisterUsbProducts g_products({CMyUsb::kProductId}, EUsbDriverGeneration::Second);

const RegisterUpdaterUsbProducts g_usbMotrevo("CUpdaterMotrevo", {CMyUsb::kProductId});

}  // namespace
