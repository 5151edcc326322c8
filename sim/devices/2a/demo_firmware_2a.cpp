// The 2A updaters' demo firmware:
//
//   class         form                      layout
//   CUpdater2A1   segment image, table A    5 segments, kind 1: 0x04000 (6.5 KiB, the tag),
//                                           0x06000 (2 KiB), 0x08000 (12 KiB), 0x10000
//                                           (16 KiB), 0x20000 (0x2C40 bytes)
//   CUpdater2A2   segment image, table B    0x06000 (7 KiB, kind 1, the tag), 0x08000 (4 KiB,
//                                           1), 0x18000 (12 KiB, 2), 0x20000 (2.25 KiB, 1),
//                                           0x28000 (16 KiB, 2)
//   CUpdater2A3   Intel HEX, below 1 MiB    9 non-blank 4 KiB blocks: 0-2 (the tag), 5, 16-17,
//                                           42-43 (extended linear addresses), 140 (an
//                                           extended segment address); blank blocks between
//   CUpdater2AB   raw binary                7 blocks of 4 KiB and a last one of 1400 bytes

#include "sim/demo_firmware.h"

namespace {

constexpr CDemoSegment kSegments2A1[] = {  // table A
    {0x04000, 0x1A00}, {0x06000, 0x0800}, {0x08000, 0x3000}, {0x10000, 0x4000}, {0x20000, 0x2C40},
};
constexpr CDemoSegment kSegments2A2[] = {  // table B: kinds 1, 1, 2, 1, 2
    {0x06000, 0x1C00}, {0x08000, 0x1000}, {0x18000, 0x3000}, {0x20000, 0x0900}, {0x28000, 0x4000},
};

constexpr auto kLinear = CIntelHexWriter::EAddressRecord::Linear;
constexpr auto kSegment = CIntelHexWriter::EAddressRecord::Segment;
constexpr CDemoHexRun kHexRuns2A3[] = {
    {0x00000, 0x3000, kLinear},   // blocks 0-2
    {0x05000, 0x1000, kLinear},   // block 5
    {0x10000, 0x1800, kLinear},   // blocks 16-17
    {0x2A000, 0x2000, kLinear},   // blocks 42-43
    {0x8C000, 0x0A00, kSegment},  // block 140
};

const RegisterDemoFirmware g_2a1("CUpdater2A1", [](CDemoBytes& random) { return DemoSegmentImage(kSegments2A1, random); });
const RegisterDemoFirmware g_2a2("CUpdater2A2", [](CDemoBytes& random) { return DemoSegmentImage(kSegments2A2, random); });
const RegisterDemoFirmware g_2a3("CUpdater2A3", [](CDemoBytes& random) { return DemoHexImage(kHexRuns2A3, random); });
const RegisterDemoFirmware g_2ab("CUpdater2AB", [](CDemoBytes& random) { return DemoBinaryImage(7 * 4096 + 1400, random); });

}  // namespace
