#include "devices/1a/usb_1a.h"

#include "platform/usb_products.h"

namespace {
const RegisterUsbProducts g_products({CUsb1A::kProductId}, EUsbDriverGeneration::First);
}  // namespace
