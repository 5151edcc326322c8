// The 1A updater's demo firmware: a segment image along region table A, two segments of
// kind 1: 0x04000 (4.5 KiB, the tag) and 0x08000 (2 KiB).

#include "sim/demo_firmware.h"

namespace {

constexpr CDemoSegment kSegments1A[] = {{0x04000, 0x1200}, {0x08000, 0x0800}};

const RegisterDemoFirmware g_1a("CUpdater1A", [](CDemoBytes& random) { return DemoSegmentImage(kSegments1A, random); });

}  // namespace
