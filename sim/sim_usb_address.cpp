#include "sim/sim_usb_address.h"

#include "platform/text_format.h"

const char* SimInterfaceGuid(ESimGeneration generation) {
  return generation == ESimGeneration::First ? "0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4"
                                             : "5b1e2c47-9d03-4a6f-8e21-3c7d90b4f152";
}

std::string CSimUsbAddress::DevicePath() const {
  return FormatText("usb#vid_%04x&pid_%04x#%s#{%s}", static_cast<unsigned>(VendorId),
                    static_cast<unsigned>(ProductId), Serial.c_str(), SimInterfaceGuid(Generation));
}

bool IsValidSimSerial(const std::string& serial) {
  if (serial.empty()) return false;
  for (char c : serial) {
    bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!letterOrDigit && c != '-' && c != '_') return false;
  }
  return true;
}
