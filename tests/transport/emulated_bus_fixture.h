#pragma once
// A test on the emulated USB bus: a fresh bus directory installed as the bus in use, the
// virtual clock and the scripted user interface, and helpers that put devices on the bus.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/clock.h"
#include "platform/emulated_usb_bus.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "support/emulated_usb_device.h"
#include "support/scripted_user_interface.h"

class EmulatedBusTest : public ::testing::Test {
 protected:
  EmulatedBusTest() : m_bus(m_directory.Path()), m_busScope(m_bus), m_clockScope(m_clock) {
    SetUiLanguage(LANG_ENGLISH);
    m_bus.SetReadBound(std::chrono::seconds(5));
  }

  static std::string Path(std::uint16_t pid, const std::string& serial, bool secondGeneration = false) {
    return FormatText("usb#vid_abcd&pid_%04x#%s#{%s}", pid, serial.c_str(),
                      ToLowerAscii(secondGeneration ? kUsbSecondGenerationGuid : kUsbFirstGenerationGuid).c_str());
  }

  CEmulatedUsbDevice& AddDevice(std::uint16_t pid, const std::string& serial, bool secondGeneration = false,
                                std::optional<std::string> name = std::nullopt) {
    CSimUsbAddress address{.VendorId = 0xABCD, .ProductId = pid, .Serial = serial,
                           .Generation = secondGeneration ? ESimGeneration::Second : ESimGeneration::First};
    m_devices.push_back(std::make_unique<CEmulatedUsbDevice>(m_directory.Path(), address, name));
    return *m_devices.back();
  }

  // Waits until the device saw `count` frames from the host.
  static void WaitForReceived(CEmulatedUsbDevice& device, std::size_t count) {
    ASSERT_TRUE(device.WaitUntil([&] { return device.Received().size() >= count; }))
        << "the device got " << device.Received().size() << " frames, not " << count;
  }

  // The sizes of the frames the device got.
  static std::vector<std::size_t> ReceivedSizes(CEmulatedUsbDevice& device) {
    std::vector<std::size_t> sizes;
    for (const auto& frame : device.Received()) sizes.push_back(frame.size());
    return sizes;
  }

  CTempBusDirectory m_directory;
  CEmulatedUsbBus m_bus;
  CUsbBusScope m_busScope;
  CVirtualClock m_clock;
  CClockScope m_clockScope;
  CScriptedUserInterface m_ui;
  std::vector<std::unique_ptr<CEmulatedUsbDevice>> m_devices;
};
