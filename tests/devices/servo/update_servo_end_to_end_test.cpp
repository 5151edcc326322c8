// End to end: tavrix-update-cli updates the simulated servo trainer served by tavrix-devsim,
// on the emulated bus and through the remote device server: the control unit's firmware when
// it is older, then the drive application from the project folder beside the catalog. The
// drive's record then holds every project file, compared with the bytes written here.

#include <gtest/gtest.h>

#include <sstream>

#include "sim/devices/servo/sim_servo_drive.h"
#include "support/cli_end_to_end.h"
#include "support/servo_project.h"

namespace {

constexpr std::uint16_t kFirmware = 130;
constexpr std::uint16_t kApplication = 110;

class UpdateServoEndToEndTest : public CliEndToEndTest {
 protected:
  UpdateServoEndToEndTest() {
    WriteServoCatalog("ZQ3351-9F", "servo.seg", "CUpdaterServo");
    m_files = WriteServoProject(m_folder, kApplication);
  }

  // The catalog with the trainer's entry `id`, whose firmware `file` is the demo image of
  // `imageOf`'s download.
  void WriteServoCatalog(const char* id, const char* file, const char* imageOf) {
    m_catalog = m_folder.Write(
        "tavrix-update.config",
        FormatText("<Config><Devices><Device Id=\"%s\" RTC=\"CUpdaterServo\" USBPID=\"0x3351\">"
                   "<Name>Servo trainer</Name><Firmware><Version>%u</Version><File>firmware\\%s</File>"
                   "</Firmware><Application><Version>%u</Version></Application></Device></Devices></Config>",
                   id, kFirmware, file, kApplication));
    WriteDemoFirmware(imageOf, kFirmware, (m_folder.Path() / "firmware" / file).string());
  }

  // The record's line of a file the drive holds: its path, size and SHA-256.
  static std::string FileLine(const std::string& drivePath, const std::string& bytes) {
    const std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    return FormatText("file %s %zu ", drivePath.c_str(), data.size()) + SimServoSha256(data) + "\n";
  }
  // Every project file and the configuration are in the drive's record.
  void ExpectProjectOnTheDrive() const {
    const std::string record = Record();
    EXPECT_NE(record.find(FileLine("\\project\\DevConf.dat", m_files[0].second)), std::string::npos) << record;
    for (std::size_t i = 1; i < m_files.size(); ++i) {
      EXPECT_NE(record.find(FileLine("\\project\\" + m_files[i].first, m_files[i].second)), std::string::npos)
          << record;
    }
    EXPECT_NE(record.find(FormatText("application %u\n", kApplication)), std::string::npos) << record;
  }

  // The update with some of the device waits, on the bus in `bus`: the control unit is back
  // from its reset before it is opened again, and retries cover a slow comeback.
  Run UpdateWithComeback(const std::string& bus, const std::string& environment = {}) {
    Run run;
    const std::string command = environment + " TAVRIX_USB_BUS='" + bus + "' TAVRIX_WAIT_SCALE=0.05 " TAVRIX_BIN_DIR
                                "/tavrix-update-cli --catalog '" + m_catalog +
                                "' --lang 1033 --yes --on-failure retry --retries 20 update ZQ3351-9F 2>&1 </dev/null";
    run.output = RunProgram(command, run.status);
    run.status = WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -1;
    return run;
  }

  std::vector<std::pair<std::string, std::string>> m_files;
};

TEST_F(UpdateServoEndToEndTest, DownloadsTheApplicationThenFindsTheTrainerUpToDate) {
  ASSERT_TRUE(Plug("servo", FormatText("firmware=%u,application=100", kFirmware)));
  Run first = Update("ZQ3351-9F");
  EXPECT_EQ(first.status, 0) << first.output;
  EXPECT_TRUE(Shows(first, Text(37))) << first.output;
  // Only the application is older: the versions that decide it are named, one line each.
  EXPECT_TRUE(Shows(first, "tavrix-update-cli: Application 1.00 on the device, 1.10 in the catalog\n")) << first.output;
  EXPECT_TRUE(Eventually([this] { return Record().find("drive files\nfile ") != std::string::npos; }));
  ExpectProjectOnTheDrive();

  Run second = Update("ZQ3351-9F");
  EXPECT_EQ(second.status, 0) << second.output;
  EXPECT_TRUE(Shows(second, UpToDate(kFirmware))) << second.output;
}

// With no device waits at all and no retries: the control unit is back from its reset before
// the reconnect, because the reset ends only once it is.
TEST_F(UpdateServoEndToEndTest, ProgramsOlderFirmwareFirstThenTheApplication) {
  ASSERT_TRUE(Plug("servo", "firmware=125,application=100"));
  Run run = Update("ZQ3351-9F");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Shows(run, Text(37))) << run.output;
  // The control unit was connected again after its firmware: the version it reported then.
  EXPECT_TRUE(Shows(run, "ZQ3351-9F now reports firmware 1.30.")) << run.output;
  const std::string record = Record();
  EXPECT_EQ(record.rfind("download segment\n", 0), 0u) << record.substr(0, 200);
  EXPECT_NE(record.find("\nend complete\n"), std::string::npos) << record.substr(0, 400);
  ExpectProjectOnTheDrive();

  Run second = Update("ZQ3351-9F");
  EXPECT_EQ(second.status, 0) << second.output;
  EXPECT_TRUE(Shows(second, UpToDate(kFirmware))) << second.output;
}

TEST_F(UpdateServoEndToEndTest, TheC28xxBasedControlUnitTakesTheProgramDownload) {
  WriteServoCatalog("ZP2290-8E", "servo-c28xx.hex", "CUpdaterC28XX");
  ASSERT_TRUE(Plug("servo", "id=ZP2290-8E,firmware=125,application=100"));
  Run run = Update("ZP2290-8E");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Shows(run, Text(37))) << run.output;
  const std::string record = Record();
  EXPECT_EQ(record.rfind("download program\n", 0), 0u) << record.substr(0, 200);
  EXPECT_NE(record.find("\nend complete\n"), std::string::npos) << record.substr(0, 400);
  ExpectProjectOnTheDrive();
}

TEST_F(UpdateServoEndToEndTest, ARefusedCheckFailsTheUpdate) {
  ASSERT_TRUE(Plug("servo", "application=100,fail=27:5"));
  Run run = Update("ZQ3351-9F");
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_TRUE(Shows(run, Text(38))) << run.output;
  EXPECT_NE(Record().find("application 100\n"), std::string::npos) << Record();
}

// A stop during the application download, with the program's real waits: SIGTERM, or a second
// Ctrl+C, while the drive works on "start file transfer". The drive hears the abort, nothing
// finishes the download, and the drive, found running and enabled, is given both back instead
// of being left standing; the program tells why and ends with 143 or 130.
TEST_F(UpdateServoEndToEndTest, AStopDuringTheApplicationDownloadAbortsAndGivesTheDriveBack) {
  const struct {
    std::vector<std::string> signals;
    const char* exit;
  } cases[] = {{{"TERM"}, "exit 143"}, {{"INT", "INT"}, "exit 130"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exit);
    ASSERT_TRUE(Plug("servo", "application=100,running,busy=25:1000000"));
    std::filesystem::remove(OutPath());
    const std::string group = StartCli("--yes update ZQ3351-9F", OutPath());
    ASSERT_TRUE(Eventually([this] { return Record().find("command 514/6 = 25 ") != std::string::npos; }))
        << Record() << Out();
    StopProgramming(group, c.signals, c.exit);

    const std::string record = Record();
    const std::size_t abort = record.find("command 514/6 = 23 ");
    ASSERT_NE(abort, std::string::npos) << "the drive never heard the abort\n" << record;
    EXPECT_EQ(record.find("command 514/6 = 24 "), std::string::npos) << "the download was finished\n" << record;
    EXPECT_NE(record.find("application 100\n"), std::string::npos) << record;
    // The drive's state from the device commands it received, in order: found enabled with its
    // application running; 41 inhibits, 42 enables, 32 stops, 31 starts.
    bool inhibited = false;
    bool running = true;
    std::istringstream lines(record);
    for (std::string line; std::getline(lines, line);) {
      if (line == "device command 41") inhibited = true;
      if (line == "device command 42") inhibited = false;
      if (line == "device command 32") running = false;
      if (line == "device command 31") running = true;
    }
    EXPECT_FALSE(inhibited) << "left with its controller inhibited\n" << record;
    EXPECT_TRUE(running) << "left with its application stopped\n" << record;
    EXPECT_GT(record.find("device command 31"), abort) << record;
  }
}

// A list that names nothing to download would end in "succeeded" with the drive's application
// as it was; a pipe as the list would hold the update in open(), /dev/zero would be read without
// end. Each is refused, by name, before a file goes to the drive.
TEST_F(UpdateServoEndToEndTest, AProjectListWithNothingToDownloadIsRefusedBeforeTheDriveIsTouched) {
  const std::string list = m_folder / "Drive001/ProjectExportList.xml";
  std::string randomBytes;
  for (int i = 0; i < 4096; ++i) randomBytes += static_cast<char>((i * 7919 + 13) % 251);
  const std::vector<CBadFirmware> cases = WithSpecialFirmwareFiles(
      {BadFirmwareText("empty", "", "is no project list"), BadFirmwareText("random bytes", randomBytes, "is no project list"),
       BadFirmwareText("one long line", std::string(1'000'000, 'x'), "is no project list"),
       BadFirmwareText("no file to send", " NumberOfFiles=\"0\" File Name=\"APPLICATION.BIN\"", "names no file to download")});
  for (const CBadFirmware& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(list);
    c.make(list);
    ASSERT_TRUE(Plug("servo", "application=100"));
    const auto start = std::chrono::steady_clock::now();
    Run run = Update("ZQ3351-9F");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(Shows(run, "ProjectExportList.xml")) << run.output;
    EXPECT_TRUE(Shows(run, c.shown)) << run.output;
    EXPECT_TRUE(Shows(run, Text(38))) << run.output;
    EXPECT_FALSE(Shows(run, Text(37))) << run.output;
    EXPECT_EQ(Record().find("file "), std::string::npos) << Record();
    EXPECT_NE(Record().find("application 100\n"), std::string::npos) << "the application is as it was: " << Record();
  }
}

// A drive that refuses every file write: the update fails with the drive's answer in the log,
// the bar never shows the project as whole, and the application stays as it was.
TEST_F(UpdateServoEndToEndTest, ADriveThatRefusesFileWritesFailsTheUpdate) {
  ASSERT_TRUE(Plug("servo", "application=100,gci_error=145:4"));
  Run run = Update("ZQ3351-9F");
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_TRUE(Shows(run, Text(38))) << run.output;
  EXPECT_TRUE(Shows(run, "ConvFileWrite failed. The drive answered with status 4.")) << run.output;
  EXPECT_FALSE(Shows(run, "100%")) << run.output;
  EXPECT_NE(Record().find("application 100\n"), std::string::npos) << Record();
}

// The trainer behind the remote device server: "Device Manager.ini" in the user's config
// folder enables it for ZQ3351-9F and names the server and the device.
TEST_F(UpdateServoEndToEndTest, TheWholeUpdateRunsThroughTheRemoteDeviceServer) {
  m_devsim = std::make_unique<CDevSim>(std::vector<std::string>{
      "--bus", Bus(), "--wait-scale", "0", "--remote-server", "127.0.0.1:0", "--device",
      "servo:record=" + RecordPath() + FormatText(",firmware=%u,application=100", kFirmware)});
  std::optional<std::string> server = m_devsim->FirstLine();
  ASSERT_TRUE(server && server->rfind("serving remote device server on 127.0.0.1:", 0) == 0) << server.value_or("");
  ASSERT_TRUE(m_devsim->FirstLine().has_value()) << "the trainer is served";
  const std::string port = server->substr(server->rfind(':') + 1);
  m_folder.Write("config/Tavrix/Device Manager.ini",
                 "[ZQ3351-9F]\nAddress=127.0.0.1\nPort=" + port + "\nName=Tavrix Kinetra\nEnabled=1\n");

  // No emulated bus for the program: the trainer is reached only through the server.
  const std::string environment = "XDG_CONFIG_HOME='" + (m_folder / "config") + "'";
  Run run = UpdateWithComeback(m_folder / "no-bus", environment);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Shows(run, Text(37))) << run.output;
  EXPECT_TRUE(Eventually([this] { return Record().find("drive files\nfile ") != std::string::npos; }));
  ExpectProjectOnTheDrive();

  Run second = UpdateWithComeback(m_folder / "no-bus", environment);
  EXPECT_EQ(second.status, 0) << second.output;
  EXPECT_TRUE(Shows(second, UpToDate(kFirmware))) << second.output;
}

}  // namespace
