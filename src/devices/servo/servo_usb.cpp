// The servo trainer's room holds what is built of it so far: its USB transport with its
// product ids, and its region table for `inspect`. Its updater comes with the family.

#include "devices/servo/servo_usb.h"

#include "devices/servo/flash_regions_servo.h"
#include "image/image_listing.h"
#include "platform/usb_products.h"

namespace {

const RegisterUsbProducts g_products({CServoUSB::kFirstProductId, CServoUSB::kSecondProductId},
                                     EUsbDriverGeneration::First);
const RegisterRegionTable g_table("servo", kFlashRegionsServo);

}  // namespace

bool CServoUSB::Open() {
  m_generation = false;
  if (CStreamUSB::Open()) return true;
  m_generation = true;
  return CStreamUSB::Open();
}
