// What the servo trainer adds to the program: its updater by catalog class name. Its USB
// product ids and region table are registered beside its transport (servo_usb.cpp).

#include "devices/servo/servo_usb.h"
#include "devices/servo/updater_servo.h"
#include "updater/updater_registry.h"
#include "updater/updater_usb_products.h"

namespace {

const RegisterUpdater<CUpdaterServo> g_registerServo("CUpdaterServo");

const RegisterUpdaterUsbProducts g_usbServo("CUpdaterServo", {CServoUSB::kFirstProductId, CServoUSB::kSecondProductId});

}  // namespace
