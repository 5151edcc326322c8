#pragma once
// Which driver generation serves a USB product id: the first generation's devices form the
// first interface class, every other device the second. A device family registers its product
// ids in one of its own source files, so that the libusb bus sorts its devices without a
// central list:
//
//   const RegisterUsbProducts g_products({0x7D2A}, EUsbDriverGeneration::First);

#include <cstdint>
#include <initializer_list>

enum class EUsbDriverGeneration { First, Second };

void RegisterUsbProduct(std::uint16_t productId, EUsbDriverGeneration generation);
// The generation the product id was registered with; the second for an id nobody registered.
EUsbDriverGeneration UsbDriverGenerationOf(std::uint16_t productId);
// The interface class GUID of the product id's generation.
const char* UsbInterfaceGuidOf(std::uint16_t productId);

struct RegisterUsbProducts {
  RegisterUsbProducts(std::initializer_list<std::uint16_t> productIds, EUsbDriverGeneration generation) {
    for (std::uint16_t id : productIds) RegisterUsbProduct(id, generation);
  }
};
