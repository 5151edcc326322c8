#include "devices/1z/usb_1z.h"

#include "platform/usb_products.h"

namespace {
const RegisterUsbProducts g_products({CUsb1Z::kProductId}, EUsbDriverGeneration::First);
}  // namespace
