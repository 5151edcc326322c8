#pragma once
// The second-generation USB transport of the devices that take their name and product id from
// their catalog entry (the MK interface, the C28xx device, the ATMU device): "Tavrix <Id>
// <Name>" and the entry's USB product id. The entry is passed in, so the transport never looks
// at the wizard's selection.

#include <cstdint>
#include <string>

#include "transport/stream_usb.h"

struct DeviceRecord;

class CCatalogNamedUsb : public CStreamUSB2 {
 public:
  explicit CCatalogNamedUsb(const DeviceRecord& entry);
  std::string GetProductName() override { return m_productName; }
  std::uint16_t GetProductId() override { return m_productId; }

 private:
  std::string m_productName;
  std::uint16_t m_productId;
};
