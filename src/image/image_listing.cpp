#include "image/image_listing.h"

namespace {

template <class Map>
std::vector<std::string> NamesOf(const Map& map) {
  std::vector<std::string> names;
  for (const auto& [name, value] : map) names.push_back(name);
  return names;
}

}  // namespace

CImageListingRegistry& CImageListingRegistry::Instance() {
  static CImageListingRegistry registry;
  return registry;
}

void CImageListingRegistry::RegisterKind(const std::string& name, CImageKind kind) {
  m_kinds[name] = std::move(kind);
}

void CImageListingRegistry::RegisterRegionTable(const std::string& name, FlashRegionTable table) {
  m_tables[name] = table;
}

const CImageKind* CImageListingRegistry::FindKind(const std::string& name) const {
  auto it = m_kinds.find(name);
  return it == m_kinds.end() ? nullptr : &it->second;
}

const FlashRegionTable* CImageListingRegistry::FindRegionTable(const std::string& name) const {
  auto it = m_tables.find(name);
  return it == m_tables.end() ? nullptr : &it->second;
}

std::vector<std::string> CImageListingRegistry::KindNames() const { return NamesOf(m_kinds); }

std::vector<std::string> CImageListingRegistry::RegionTableNames() const { return NamesOf(m_tables); }
