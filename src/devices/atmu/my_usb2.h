#pragma once
// The ATMU device's USB transport: the second-generation driver, named by the catalog entry
// ("Tavrix <Id> <Name>", the entry's USB product id) that is passed in.

#include "transport/catalog_named_usb.h"

class CMyUsb2 : public CCatalogNamedUsb {
 public:
  using CCatalogNamedUsb::CCatalogNamedUsb;
};
