// The 1Z updater's demo firmware: a segment image along region table A, two segments of
// kind 1: 0x04000 (3 KiB, the tag) and 0x10000 (1 KiB).

#include "sim/demo_firmware.h"

namespace {

constexpr CDemoSegment kSegments1Z[] = {{0x04000, 0x0C00}, {0x10000, 0x0400}};

const RegisterDemoFirmware g_1z("CUpdater1Z", [](CDemoBytes& random) { return DemoSegmentImage(kSegments1Z, random); });

}  // namespace
