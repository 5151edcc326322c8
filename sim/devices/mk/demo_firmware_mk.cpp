// The MK updater's demo firmware: an Intel HEX file with three non-blank 4 KiB blocks, 0 (the
// tag) and 18-19 (behind an extended linear address record), blank blocks between.

#include "sim/demo_firmware.h"

namespace {

constexpr CDemoHexRun kHexRunsMK[] = {
    {0x00000, 0x0C00, CIntelHexWriter::EAddressRecord::Linear},  // block 0
    {0x12800, 0x1000, CIntelHexWriter::EAddressRecord::Linear},  // blocks 18-19
};

const RegisterDemoFirmware g_mk("CUpdaterMK", [](CDemoBytes& random) { return DemoHexImage(kHexRunsMK, random); });

}  // namespace
