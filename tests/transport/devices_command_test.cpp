// `tavrix-update-cli devices`: each device on the bus with its stable id and the catalog
// entries whose updater opens it.

#include <fstream>

#include <nlohmann/json.hpp>

#include "emulated_bus_fixture.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace {

class DevicesCommandTest : public EmulatedBusTest {
 protected:
  DevicesCommandTest() {
    // Entries of three families: a fixed product id (2A, two variants), one from the catalog
    // (MK), and the trainer, served by the second driver generation.
    m_catalog = m_folder.Write("catalog.config",
                               "<Config><Devices>"
                               "<Device Id='QI-2A1' RTC='CUpdater2A1'><Name>a</Name></Device>"
                               "<Device Id='QI-2A3' RTC='CUpdater2A3'><Name>b</Name></Device>"
                               "<Device Id='MK' RTC='CUpdaterMK' USBPID='0x4711'><Name>c</Name></Device>"
                               "<Device Id='TRAINER' RTC='CUpdaterMotrevo'><Name>d</Name></Device>"
                               "</Devices></Config>");
  }

  std::string Devices(const std::string& options, int& status) {
    return RunProgram("TAVRIX_USB_BUS='" + m_directory.Path() + "' " TAVRIX_BIN_DIR "/tavrix-update-cli --catalog '" +
                          m_catalog + "' devices " + options,
                      status);
  }

  CTempFolder m_folder;
  std::string m_catalog;
};

TEST_F(DevicesCommandTest, NamesEachDeviceByItsIdWithTheEntriesThatOpenIt) {
  AddDevice(0x4C17, "m", true, "Tavrix MOTREVO");
  AddDevice(0x7D2A, "q", false, "Tavrix Quadrel Interface");
  AddDevice(0x7D2A, "w", true);  // the 2A's product id through the wrong driver generation
  AddDevice(0x1184, "a", false);
  AddDevice(0x4711, "k", true, "Tavrix ZP4711-1M MK Interface");
  int status = -1;
  EXPECT_EQ(Devices("", status), "a\t-\t\t" + Path(0x1184, "a") + "\n" +
                                     "q\tQI-2A1,QI-2A3\tTavrix Quadrel Interface\t" + Path(0x7D2A, "q") + "\n" +
                                     "k\tMK\tTavrix ZP4711-1M MK Interface\t" + Path(0x4711, "k", true) + "\n" +
                                     "m\tTRAINER\tTavrix MOTREVO\t" + Path(0x4C17, "m", true) + "\n" +
                                     "w\t-\t\t" + Path(0x7D2A, "w", true) + "\n");
  EXPECT_EQ(status, 0);
}

TEST_F(DevicesCommandTest, JsonLinesCarryTheSameFacts) {
  AddDevice(0x7D2A, "q", false, "Tavrix Quadrel Interface");
  int status = -1;
  std::string output = Devices("--json", status);
  EXPECT_EQ(status, 0);
  nlohmann::json line = nlohmann::json::parse(output);
  EXPECT_EQ(line["type"], "device");
  EXPECT_EQ(line["id"], "q");
  EXPECT_EQ(line["path"], Path(0x7D2A, "q"));
  EXPECT_EQ(line["product_id"], "7d2a");
  EXPECT_EQ(line["catalog_ids"], (nlohmann::json{"QI-2A1", "QI-2A3"}));
}

TEST(DevicesCommand, WithoutUsbTheListIsEmpty) {
  int status = -1;
  std::string output = RunProgram("env -u TAVRIX_USB_BUS " TAVRIX_BIN_DIR "/tavrix-update-cli devices 2>&1", status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, "No device found.\n") << "libusb on a machine without USB lists nothing, and says so";
}

}  // namespace
