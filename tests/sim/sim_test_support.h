#pragma once
// Shared pieces of the simulator tests: a temporary bus on the virtual clock, the same bus as
// the program's USB transports reach it, and a device whose program the test writes in place.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/emulated_usb_bus.h"
#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "sim/sim_device_registry.h"
#include "support/scripted_user_interface.h"
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

// The bus as the program's own USB transports reach it, with devices made from tavrix-devsim
// descriptions, and the scripted user interface for what the host side shows.
class SimUsbBusTest : public SimBusTest {
 protected:
  SimUsbBusTest() : m_usb(m_bus->Directory().string()), m_usbScope(m_usb) {
    m_usb.SetReadBound(std::chrono::seconds(5));
  }

  // The device "KIND:options" describes, made as tavrix-devsim makes it; m_server serves it.
  template <class T>
  T& PlugDescribed(const std::string& description) {
    m_server = &m_bus->Plug(CSimDeviceRegistry::Instance().Create(ParseSimDeviceDescription(description)));
    return static_cast<T&>(m_server->Device());
  }

  CScriptedUserInterface m_ui;
  CEmulatedUsbBus m_usb;
  CUsbBusScope m_usbScope;
  CSimDeviceServer* m_server = nullptr;
};
