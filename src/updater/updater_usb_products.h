#pragma once
// Which USB products an updater class talks to, so that a device on the bus can be matched
// with the catalog entries that can update it before anything is opened. A family names its
// product ids beside its updater registration; a family whose product id comes from the
// catalog entry (USBPID) names kCatalogUsbPid:
//
//   const RegisterUpdaterUsbProducts g_usb("CUpdater2A1", {0x7D2A});
//   const RegisterUpdaterUsbProducts g_usb("CUpdaterMK", {kCatalogUsbPid});

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// Stands for the catalog entry's own USBPID in a registration.
inline constexpr std::uint16_t kCatalogUsbPid = 0;

void RegisterUpdaterUsbProduct(const std::string& className, std::uint16_t productId);

// The product ids the class's updater opens, with kCatalogUsbPid replaced by `catalogPid`;
// empty for a class that opens no USB device (network units) or that nobody registered.
std::vector<std::uint16_t> UsbProductsOf(const std::string& className, std::uint16_t catalogPid);

// Every product id any registration names (kCatalogUsbPid left out).
std::vector<std::uint16_t> RegisteredUsbProducts();

struct RegisterUpdaterUsbProducts {
  RegisterUpdaterUsbProducts(const std::string& className, std::initializer_list<std::uint16_t> productIds) {
    for (std::uint16_t id : productIds) RegisterUpdaterUsbProduct(className, id);
  }
};
