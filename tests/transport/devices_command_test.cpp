#include "console/devices_command.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "emulated_bus_fixture.h"
#include "support/run_program.h"

namespace {

// What ListDeviceInterfaces prints for the bus.
std::string Listing(IUsbBus& bus) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), std::fclose);
  ListDeviceInterfaces(bus, file.get());
  std::rewind(file.get());
  std::string text;
  char buffer[512];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0) text.append(buffer, got);
  return text;
}

class DevicesCommandTest : public EmulatedBusTest {};

TEST_F(DevicesCommandTest, ListsFirstGenerationThenSecondEachInEnumerationOrder) {
  AddDevice(0x4C17, "m", true, "Tavrix MOTREVO");
  AddDevice(0x7D2A, "q", false, "Tavrix Quadrel Interface");
  AddDevice(0x1184, "a", false);
  AddDevice(0x4711, "k", true, "Tavrix ZP4711-1M MK Interface");
  EXPECT_EQ(Listing(m_bus), Path(0x1184, "a") + "\t\n" +
                                Path(0x7D2A, "q") + "\tTavrix Quadrel Interface\n" +
                                Path(0x4711, "k", true) + "\tTavrix ZP4711-1M MK Interface\n" +
                                Path(0x4C17, "m", true) + "\tTavrix MOTREVO\n");
}

TEST_F(DevicesCommandTest, TheProgramListsTheBusTheEnvironmentNames) {
  AddDevice(0x7D2A, "q", false, "Tavrix Quadrel Interface");
  int status = -1;
  std::string output = RunProgram("TAVRIX_USB_BUS='" + m_directory.Path() + "' " TAVRIX_BIN_DIR "/tavrix-update-cli devices", status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, Path(0x7D2A, "q") + "\tTavrix Quadrel Interface\n");
}

TEST(DevicesCommand, WithoutUsbTheListIsEmpty) {
  int status = -1;
  std::string output = RunProgram("env -u TAVRIX_USB_BUS " TAVRIX_BIN_DIR "/tavrix-update-cli devices 2>&1", status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, "No device found.\n") << "libusb on a machine without USB lists nothing, and says so";
}

}  // namespace
