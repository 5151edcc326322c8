#pragma once
// Shared pieces of the simulator tests: a temporary bus on the virtual clock, and a device
// whose program the test writes in place.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "support/raw_usb_peer.h"

inline std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

class CTestSimDevice : public CSimDevice {
 public:
  using Program = std::function<void(CSimConnection&)>;
  CTestSimDevice(CSimDeviceSetup setup, Program program)
      : CSimDevice(std::move(setup)), m_program(std::move(program)) {}
  void RunProgram(CSimConnection& io) override { m_program(io); }
  void Reenumerate() override {
    if (OnReenumerate) OnReenumerate();
  }
  std::function<void()> OnReenumerate;

 private:
  Program m_program;
};

// A bus in a fresh temporary folder; device-side waits on a virtual clock.
class SimBusTest : public ::testing::Test {
 protected:
  SimBusTest() {
    char pattern[] = "/tmp/tavrix-sim-XXXXXX";
    m_folder = ::mkdtemp(pattern);
    m_bus = std::make_unique<CSimBus>(m_folder / "bus");
  }
  ~SimBusTest() override {
    m_bus.reset();
    std::filesystem::remove_all(m_folder);
  }

  static CSimDeviceSetup Setup(std::uint16_t pid,
                               ESimGeneration generation = ESimGeneration::Second,
                               std::string serial = "T1") {
    CSimDeviceSetup setup;
    setup.Address.ProductId = pid;
    setup.Address.Generation = generation;
    setup.Address.Serial = std::move(serial);
    return setup;
  }

  CVirtualClock m_clock;
  CClockScope m_clockScope{m_clock};
  std::filesystem::path m_folder;
  std::unique_ptr<CSimBus> m_bus;
};
