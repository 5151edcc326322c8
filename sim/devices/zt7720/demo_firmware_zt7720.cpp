// The ZT7720 updaters' demo firmware: Intel HEX below 1 MiB, as the block download reads it.
//
//   class         layout
//   CUpdater5R    4 non-blank 4 KiB blocks: 0-1 (the tag), 8, 31
//   CUpdater5S    the same blocks and a fifth at 0x40000 (an extended linear address)

#include "sim/demo_firmware.h"

namespace {

constexpr auto kLinear = CIntelHexWriter::EAddressRecord::Linear;
constexpr CDemoHexRun kHexRuns5R[] = {
    {0x00000, 0x2000, kLinear},  // blocks 0-1
    {0x08000, 0x0800, kLinear},  // block 8
    {0x1F000, 0x1000, kLinear},  // block 31
};
constexpr CDemoHexRun kHexRuns5S[] = {
    {0x00000, 0x2000, kLinear}, {0x08000, 0x0800, kLinear}, {0x1F000, 0x1000, kLinear}, {0x40000, 0x0400, kLinear},
};

const RegisterDemoFirmware g_5r("CUpdater5R", [](CDemoBytes& random) { return DemoHexImage(kHexRuns5R, random); });
const RegisterDemoFirmware g_5s("CUpdater5S", [](CDemoBytes& random) { return DemoHexImage(kHexRuns5S, random); });

}  // namespace
