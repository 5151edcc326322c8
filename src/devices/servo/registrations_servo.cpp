// What the servo trainer adds to the program: its updater by catalog class name. Its USB
// product ids and region table are registered beside its transport (servo_usb.cpp).

#include "devices/servo/updater_servo.h"
#include "updater/updater_registry.h"

namespace {

const RegisterUpdater<CUpdaterServo> g_registerServo("CUpdaterServo");

}  // namespace
