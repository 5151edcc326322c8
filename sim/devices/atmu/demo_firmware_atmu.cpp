// The ATMU updater's demo firmware: an Intel HEX file for the 128 KiB page image, with a gap
// between its first two runs and a third run above 64 KiB behind an extended linear address
// record, so that the pages between are sent erased:
//
//   0x00000  0x1400 bytes (the tag at 0x200)
//   0x01C00  0x0200 bytes
//   0x10000  0x0300 bytes

#include "sim/demo_firmware.h"

namespace {

constexpr auto kLinear = CIntelHexWriter::EAddressRecord::Linear;
constexpr CDemoHexRun kRunsATMU[] = {
    {0x00000, 0x1400, kLinear},
    {0x01C00, 0x0200, kLinear},
    {0x10000, 0x0300, kLinear},
};

const RegisterDemoFirmware g_atmu("CUpdaterATMU", [](CDemoBytes& random) { return DemoHexImage(kRunsATMU, random); });

}  // namespace
