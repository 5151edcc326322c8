#pragma once
// What `inspect` can list, registered by the downloads and the device families that own it:
// image kinds (how a file of that kind is cut into what its download sends) and named region
// tables. A family adds itself in one of its own source files:
//
//   const RegisterImageKind g_kind("segments", ListSegmentImage, /*takesRegions=*/true);
//   const RegisterRegionTable g_table("B", kFlashRegionsB);
//
// A kind lists through the same plan its download sends by, so `inspect` shows exactly what
// would go to the device.

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "image/flash_region.h"
#include "image/image_load_error.h"

// Where a listing goes: one line per unit in sending order with the bytes the unit sends (none
// for a unit that stays home), then the summary lines.
class IImageListingSink {
 public:
  virtual ~IImageListingSink() = default;
  virtual void Unit(const std::string& line, std::span<const std::uint8_t> sent) = 0;
  virtual void Summary(const std::string& line) = 0;
};

// Loads the file at `path` (cut along `table` for kinds that take one) and lists it; the
// refusal when it cannot be opened or does not load completely (nothing is listed then).
using ImageListingFunction =
    std::function<CImageLoadError(const std::string& path, FlashRegionTable table, IImageListingSink& sink)>;

struct CImageKind {
  ImageListingFunction List;
  bool TakesRegions = false;
};

class CImageListingRegistry {
 public:
  static CImageListingRegistry& Instance();

  void RegisterKind(const std::string& name, CImageKind kind);
  void RegisterRegionTable(const std::string& name, FlashRegionTable table);
  // Nullptr for a name nobody registered.
  const CImageKind* FindKind(const std::string& name) const;
  const FlashRegionTable* FindRegionTable(const std::string& name) const;
  // The names, sorted.
  std::vector<std::string> KindNames() const;
  std::vector<std::string> RegionTableNames() const;

 private:
  std::map<std::string, CImageKind> m_kinds;
  std::map<std::string, FlashRegionTable> m_tables;
};

struct RegisterImageKind {
  RegisterImageKind(const std::string& name, ImageListingFunction list, bool takesRegions = false) {
    CImageListingRegistry::Instance().RegisterKind(name, {std::move(list), takesRegions});
  }
};

struct RegisterRegionTable {
  RegisterRegionTable(const std::string& name, FlashRegionTable table) {
    CImageListingRegistry::Instance().RegisterRegionTable(name, table);
  }
};
