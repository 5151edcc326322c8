// A whole 2A update against the simulated device, in-process over the emulated bus on the
// virtual clock: what the program itself costs per update (framing, transport, the device's
// side), without the device's waits. Bytes per second count the image file.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <memory>

#include "../tests/support/silent_user_interface.h"
#include "platform/clock.h"
#include "platform/emulated_usb_bus.h"
#include "platform/user_interface.h"
#include "sim/demo_firmware.h"
#include "sim/sim_bus.h"
#include "sim/sim_device_registry.h"
#include "transport/stream_io.h"
#include "updater/device_catalog.h"
#include "updater/updater.h"
#include "updater/updater_registry.h"

namespace {

// `resets`: the download ends with a reset, after which the device comes back.
void Update2A(benchmark::State& state, const char* className, const char* variant, bool resets) {
  char pattern[] = "/tmp/tavrix-bench-XXXXXX";
  const std::filesystem::path folder = ::mkdtemp(pattern);
  CVirtualClock clock;
  CClockScope clockScope(clock);
  CSilentUserInterface ui;
  SetUserInterface(&ui);
  {
    CSimBus bus(folder / "bus");
    CSimDeviceServer& server = bus.Plug(CSimDeviceRegistry::Instance().Create(
        ParseSimDeviceDescription(std::string("2a:away_ms=0,firmware=100,variant=") + variant)));
    CEmulatedUsbBus usb(bus.Directory().string());
    CUsbBusScope usbScope(usb);
    DeviceRecord record;
    record.FirmwarePath = (folder / "firmware.img").string();
    WriteDemoFirmware(className, 312, record.FirmwarePath);
    std::uint32_t comebacks = 0;
    for (auto _ : state) {
      std::unique_ptr<CUpdater> updater = UpdaterRegistry::Instance().Create(className);
      if (!updater->Connect() || !updater->Update(record, nullptr)) {
        state.SkipWithError("the update failed");
        break;
      }
      if (resets && !server.WaitForReenumerations(++comebacks, std::chrono::seconds(10))) {
        state.SkipWithError("the device did not come back");
        break;
      }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * std::filesystem::file_size(record.FirmwarePath)));
  }
  SetUserInterface(nullptr);
  std::filesystem::remove_all(folder);
}

BENCHMARK_CAPTURE(Update2A, Segments, "CUpdater2A1", "1", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Update2A, HexBlocks, "CUpdater2A3", "3", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Update2A, Binary, "CUpdater2AB", "3", false)->Unit(benchmark::kMillisecond);

}  // namespace
