#include "updater/updater_usb_products.h"

#include <algorithm>
#include <map>
#include <set>

namespace {

std::map<std::string, std::vector<std::uint16_t>>& Products() {
  static std::map<std::string, std::vector<std::uint16_t>> products;
  return products;
}

}  // namespace

void RegisterUpdaterUsbProduct(const std::string& className, std::uint16_t productId) {
  auto& ids = Products()[className];
  if (std::find(ids.begin(), ids.end(), productId) == ids.end()) ids.push_back(productId);
}

std::vector<std::uint16_t> UsbProductsOf(const std::string& className, std::uint16_t catalogPid) {
  auto it = Products().find(className);
  if (it == Products().end()) return {};
  std::vector<std::uint16_t> ids;
  for (std::uint16_t id : it->second) {
    std::uint16_t resolved = id == kCatalogUsbPid ? catalogPid : id;
    if (resolved != kCatalogUsbPid) ids.push_back(resolved);
  }
  return ids;
}

std::vector<std::uint16_t> RegisteredUsbProducts() {
  std::set<std::uint16_t> ids;
  for (const auto& [name, list] : Products()) {
    for (std::uint16_t id : list) {
      if (id != kCatalogUsbPid) ids.insert(id);
    }
  }
  return {ids.begin(), ids.end()};
}
