#include "transport/catalog_named_usb.h"

#include "platform/text_format.h"
#include "updater/device_catalog.h"

CCatalogNamedUsb::CCatalogNamedUsb(const DeviceRecord& entry)
    : m_productName(FormatText("Tavrix %s %s", entry.Id.c_str(), entry.Name.c_str())),
      m_productId(entry.UsbPid) {}
