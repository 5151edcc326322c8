#include "platform/usb_products.h"

#include <map>

#include "platform/usb_bus.h"

namespace {

std::map<std::uint16_t, EUsbDriverGeneration>& Generations() {
  static std::map<std::uint16_t, EUsbDriverGeneration> generations;
  return generations;
}

}  // namespace

void RegisterUsbProduct(std::uint16_t productId, EUsbDriverGeneration generation) {
  Generations()[productId] = generation;
}

EUsbDriverGeneration UsbDriverGenerationOf(std::uint16_t productId) {
  auto it = Generations().find(productId);
  return it == Generations().end() ? EUsbDriverGeneration::Second : it->second;
}

const char* UsbInterfaceGuidOf(std::uint16_t productId) {
  return UsbDriverGenerationOf(productId) == EUsbDriverGeneration::First ? kUsbFirstGenerationGuid
                                                                        : kUsbSecondGenerationGuid;
}
