// The servo trainer's demo firmware for its control unit: a segment image along the servo
// region table (the regions at 0x00000, 0x04000 and 0x30000 stay home), three segments of
// kind 1: 0x06000 (6 KiB, the tag), 0x08000 (8 KiB) and 0x10000 (4 KiB).

#include "sim/demo_firmware.h"

namespace {

constexpr CDemoSegment kSegmentsServo[] = {{0x06000, 0x1800}, {0x08000, 0x2000}, {0x10000, 0x1000}};

const RegisterDemoFirmware g_servo("CUpdaterServo",
                                   [](CDemoBytes& random) { return DemoSegmentImage(kSegmentsServo, random); });

}  // namespace
