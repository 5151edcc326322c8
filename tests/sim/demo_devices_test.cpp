// The demo bench: which simulated devices tavrix-devsim --demo plugs in for a catalog.

#include <gtest/gtest.h>

#include "sim/demo_devices.h"
#include "sim/demo_firmware.h"
#include "sim/sim_device_registry.h"
#include "sim/sim_error.h"
#include "support/child_process.h"
#include "support/temp_folder.h"

namespace {

std::string Device(const std::string& id, const std::string& rtc, const std::string& pid, const std::string& version) {
  return "<Device Id=\"" + id + "\" RTC=\"" + rtc + "\" USBPID=\"" + pid + "\"><Name>n</Name><Firmware><Version>" +
         version + "</Version><File>f</File></Firmware></Device>";
}

TEST(DemoDevicesTest, OneDevicePerFamilyBehindTheCatalogAndANoteForEveryEntryLeftOut) {
  CTempFolder folder;
  std::string catalog = folder.Write(
      "c.config", "<Config><Devices>" + Device("A1", "CUpdater2A1", "0x7D2A", "312") +
                      Device("A2", "CUpdater2A2", "0x7D2A", "400") + Device("X", "CUpdaterNone", "0x7D2A", "100") +
                      Device("M", "CUpdaterMotrevo", "0x4C17", "3") + Device("P", "CUpdater2A3", "0x1234", "405") +
                      "</Devices></Config>");
  CDemoDevicePlan plan = PlanDemoDevices(catalog);
  ASSERT_EQ(plan.Devices.size(), 2u);
  EXPECT_EQ(plan.Devices[0].DeviceId, "A1");
  EXPECT_EQ(plan.Devices[0].Description, "2a:firmware=307");
  EXPECT_EQ(plan.Devices[1].DeviceId, "M");
  EXPECT_EQ(plan.Devices[1].Description, "motrevo:firmware=0") << "never below 0";
  EXPECT_EQ(plan.Notes, (std::vector<std::string>{
                            "A2 (CUpdater2A2): its family's device is plugged in for A1",
                            "X (CUpdaterNone): no demo firmware for this updater class",
                            "P (CUpdater2A3): no simulated device kind has the product id 0x1234",
                        }));
  EXPECT_THROW(PlanDemoDevices(folder.Write("bad.config", "<Config>")), CSimError);
}

// Families merged later come into the demo by their registrations alone; one whose simulated
// device does not have its catalog entry's product id would silently stay out.
TEST(DemoDevicesTest, EveryFamilyOfTheDemoCatalogWithDemoFirmwareGetsADevice) {
  CDemoDevicePlan plan = PlanDemoDevices(TAVRIX_SOURCE_DIR "/resources/demo/tavrix-update.config");
  EXPECT_GE(plan.Devices.size(), 2u);
  for (const std::string& note : plan.Notes) {
    EXPECT_EQ(note.find("no simulated device kind"), std::string::npos) << note;
    EXPECT_EQ(note.find("takes no firmware="), std::string::npos) << note;
  }
  for (const CDemoDevice& device : plan.Devices) {
    EXPECT_NO_THROW(CSimDeviceRegistry::Instance().Create(ParseSimDeviceDescription(device.Description)))
        << device.Description;
  }
}

TEST(DemoDevicesTest, TavrixDevsimServesTheWholeBenchAtOnce) {
  CTempFolder folder;
  std::string catalog = folder.Write("c.config", "<Config><Devices>" + Device("A1", "CUpdater2A1", "0x7D2A", "312") +
                                                     Device("M", "CUpdaterMotrevo", "0x4C17", "312") +
                                                     "</Devices></Config>");
  CChildProcess devsim(TAVRIX_BIN_DIR "/tavrix-devsim", {"--bus", folder / "bus", "--demo", catalog});
  std::vector<std::string> lines;
  for (int i = 0; i < 4; ++i) {
    std::optional<std::string> line = devsim.ReadLine(std::chrono::seconds(10));
    ASSERT_TRUE(line.has_value()) << "after " << lines.size() << " lines";
    lines.push_back(line->substr(0, line->find("#{")));
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"demo A1 2a:firmware=307", "demo M motrevo:firmware=307",
                                             "serving usb#vid_7a3c&pid_7d2a#SIM1", "serving usb#vid_7a3c&pid_4c17#SIM2"}));
  std::size_t names = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder / "bus")) names += entry.path().extension() == ".name";
  EXPECT_EQ(names, 2u);
}

}  // namespace
