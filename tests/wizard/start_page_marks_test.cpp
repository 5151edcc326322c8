// The start page's marks: each catalog line whose device is on the USB bus carries one, they
// follow devices that come and go, and a single attached entry is the line selected at start.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/emulated_usb_bus.h"
#include "platform/usb_bus.h"
#include "support/emulated_usb_device.h"
#include "support/test_updater.h"
#include "support/wizard_fixture.h"
#include "wizard/dialog_templates.h"
#include "wizard/message_pump.h"
#include "wizard/start_page.h"

namespace {

// Real updater classes, so that the lines are matched as the program matches them: the 2A
// updaters open product 0x7D2A through the first-generation driver, ATMU and MK the product
// their entry names through the second; the network unit opens no USB device.
constexpr const char* kCatalog = R"(<?xml version="1.0"?>
<Config><Devices>
  <Device Id="QI-2A1" RTC="CUpdater2A1" USBPID="0x7D2A"><Name>2A, variant 1</Name></Device>
  <Device Id="QI-2A2" RTC="CUpdater2A2" USBPID="0x7D2A"><Name>2A, variant 2</Name></Device>
  <Device Id="ZA0815-2T" RTC="CUpdaterATMU" USBPID="0xA7B0"><Name>ATMU</Name></Device>
  <Device Id="ZM7310-4K" RTC="CUpdaterMK" USBPID="0x4D4B"><Name>MK</Name></Device>
  <Device Id="ZT7720-4K" RTC="CUpdater5R" USBPID="0x0000"><Name>Network unit</Name></Device>
</Devices></Config>)";
enum Line { kQuadrel1, kQuadrel2, kAtmu, kMk, kNetwork };

CSimUsbAddress Address(std::uint16_t productId, const std::string& serial, ESimGeneration generation) {
  return {kSimVendorId, productId, serial, generation};
}
const CSimUsbAddress kQuadrelDevice = Address(0x7D2A, "Q1", ESimGeneration::First);
const CSimUsbAddress kAtmuDevice = Address(0xA7B0, "T1", ESimGeneration::Second);
const CSimUsbAddress kSecondAtmuDevice = Address(0xA7B0, "T2", ESimGeneration::Second);
const CSimUsbAddress kMkDevice = Address(0x4D4B, "M1", ESimGeneration::Second);
// The ATMU's product id through the driver it does not use: no updater opens it.
const CSimUsbAddress kAtmuOnTheFirstDriver = Address(0xA7B0, "X1", ESimGeneration::First);

class StartPageMarks : public WizardFixture {
 protected:
  void SetUp() override {
    StoreInt("ChooseLanguage", 0);
    WriteCatalog(kCatalog);
  }

  void Plug(const CSimUsbAddress& address) {
    m_devices.push_back(std::make_unique<CEmulatedUsbDevice>(m_bus.Path(), address));
  }

  const std::set<int>& Marked() { return m_view.marked[{kStartPageId, CStartPage::kDeviceList}]; }
  int Selected() { return m_view.selection[{kStartPageId, CStartPage::kDeviceList}]; }

  CTempBusDirectory m_bus;
  CEmulatedUsbBus m_usb{m_bus.Path()};
  CUsbBusScope m_usbScope{m_usb};
  std::vector<std::unique_ptr<CEmulatedUsbDevice>> m_devices;
};

struct MarkCase {
  const char* name;
  std::vector<CSimUsbAddress> devices;
  std::set<int> marked;
  int selected;
};

class StartPageMarksAtStart : public StartPageMarks, public ::testing::WithParamInterface<MarkCase> {};

TEST_P(StartPageMarksAtStart, MarkTheAttachedEntriesAndSelectASingleOne) {
  for (const CSimUsbAddress& address : GetParam().devices) Plug(address);
  m_view.Queue(WizardAction::Cancel);
  Run();
  EXPECT_EQ(Marked(), GetParam().marked);
  EXPECT_EQ(Selected(), GetParam().selected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StartPageMarksAtStart,
    ::testing::Values(MarkCase{"NoDevice", {}, {}, kQuadrel1},
                      MarkCase{"OneAtmuIsSelected", {kAtmuDevice}, {kAtmu}, kAtmu},
                      MarkCase{"TwoAtmusAreOneEntry", {kAtmuDevice, kSecondAtmuDevice}, {kAtmu}, kAtmu},
                      MarkCase{"MkByItsCatalogProductId", {kMkDevice}, {kMk}, kMk},
                      // One device that two entries can update: which one is meant is the
                      // person's choice.
                      MarkCase{"AQuadrelMarksEveryVariant", {kQuadrelDevice}, {kQuadrel1, kQuadrel2}, kQuadrel1},
                      MarkCase{"TwoEntriesSelectTheFirstLine", {kMkDevice, kAtmuDevice}, {kAtmu, kMk}, kQuadrel1},
                      MarkCase{"TheOtherDriverMarksNothing", {kAtmuOnTheFirstDriver}, {}, kQuadrel1}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Devices plugged in and out while the start page is shown: the marks follow each change the
// front end reports, and the selection stays the person's.
TEST_F(StartPageMarks, FollowDevicesThatComeAndGo) {
  m_view.Queue(WizardAction::DevicesChanged);  // an ATMU came
  m_view.Queue(WizardAction::DevicesChanged);  // an MK came
  m_view.Queue(WizardAction::DevicesChanged);  // the ATMU went
  m_view.Queue(WizardAction::Cancel);
  std::vector<std::set<int>> seen;
  m_view.onWait = [&](CScriptedSheetView&) {
    seen.push_back(Marked());
    if (m_view.waits == 1) Plug(kAtmuDevice);
    if (m_view.waits == 2) Plug(kMkDevice);
    if (m_view.waits == 3) m_devices.erase(m_devices.begin());
  };
  Run();
  EXPECT_EQ(seen, (std::vector<std::set<int>>{{}, {kAtmu}, {kAtmu, kMk}, {kMk}}));
  // Only what changed is drawn again, and the first line stays selected.
  std::vector<std::string> marks;
  for (const std::string& call : m_view.calls) {
    if (call.rfind("Mark ", 0) == 0 || call.rfind("Select ", 0) == 0) marks.push_back(call);
  }
  EXPECT_EQ(marks, (std::vector<std::string>{"Select 1000/401 0", "Mark 1000/401 2 on", "Mark 1000/401 3 on",
                                             "Mark 1000/401 2 off"}));
  EXPECT_EQ(Selected(), kQuadrel1);
}

// Devices that change while Next connects are read once the connect is over: the updater has
// the bus then, and the marks are drawn when the start page is back.
TEST_F(StartPageMarks, ChangesDuringTheConnectAreReadAfterIt) {
  WriteCatalog(R"(<Config><Devices>
    <Device Id="T1" RTC="CTestUpdater" USBPID="0x1234"><Name>Test</Name>
      <Firmware><Version>305</Version><File>t.hex</File></Firmware></Device>
    <Device Id="ZA0815-2T" RTC="CUpdaterATMU" USBPID="0xA7B0"><Name>ATMU</Name></Device>
  </Devices></Config>)");
  std::vector<std::string> callsDuringConnect;
  TestUpdater().onConnect = [&] {
    Plug(kAtmuDevice);
    m_view.QueueDuringWork({WizardAction::DevicesChanged, 0});
    m_view.QueueDuringWork({WizardAction::DevicesChanged, 0});
    PumpPendingMessages();
    callsDuringConnect = m_view.calls;
    return false;  // not connected: the start page stays
  };
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Cancel);
  Run();
  EXPECT_TRUE(std::none_of(callsDuringConnect.begin(), callsDuringConnect.end(),
                           [](const std::string& call) { return call.rfind("Mark ", 0) == 0; }));
  EXPECT_EQ(std::count(m_view.calls.begin(), m_view.calls.end(), "Mark 1000/401 1 on"), 1);
  EXPECT_EQ(Marked(), std::set<int>{1});
}

}  // namespace
