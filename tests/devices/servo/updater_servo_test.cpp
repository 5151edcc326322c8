// The servo trainer's updater and its application download, in-process against the simulated
// trainer on an emulated bus: what the person sees (progress, the switch prompt), what the
// download log says, the 514 commands and device commands the drive received, and the files
// it then holds.

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>

#include "devices/servo/updater_servo.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "sim/demo_firmware.h"
#include "sim/devices/servo/sim_servo.h"
#include "sim/sim_test_support.h"
#include "support/temp_folder.h"
#include "transport/usb_init_failed_dlg.h"
#include "updater/device_catalog.h"
#include "updater/flash_progress.h"
#include "updater/stop_request.h"
#include "updater/updater_registry.h"

namespace {

using namespace std::chrono_literals;

// Everything the download shows, in order.
class CRecordingProgress : public IFlashProgress {
 public:
  void SetRange(std::uint16_t lower, std::uint16_t upper) override { Note(FormatText("range %u %u", lower, upper)); }
  bool SetPos(int position) override {
    Note(FormatText("pos %d", position));
    return true;
  }
  void SetMarquee() override { Note("marquee"); }
  void SetDetailText(const std::string& text) override { details += text; }
  bool PumpMessages() override { return true; }
  void ShowProject(const std::string& folder, const std::string& summary) override {
    Note("project " + folder + ": " + summary);
  }
  std::vector<std::string> shown;
  std::string details;  // the turning slash, one character per segment

 protected:
  void ShowStatusText(const std::string& text) override { Note("status " + text); }

 private:
  void Note(std::string text) { shown.push_back(std::move(text)); }
};

// One file of a project: its name and its bytes.
using ProjectFiles = std::vector<std::pair<std::string, std::string>>;

std::string Filled(std::size_t size, char c) { return std::string(size, c); }

// The commands as "SUBINDEX/NUMBER", space-separated, in the order the drive took them.
std::string Commands(const CSimServoDrive& drive) {
  std::string text;
  for (const CSimServoCommand& command : drive.Commands()) {
    text += FormatText("%s%d/%u", text.empty() ? "" : " ", command.Subindex, command.Number);
  }
  return text;
}
std::vector<std::uint32_t> DeviceCommands(const CSimServoDrive& drive) { return drive.DeviceCommands(); }

// How many of the host's frames began with this command byte.
std::size_t FramesBeginningWith(CSimDevice& device, std::uint8_t command) {
  std::size_t count = 0;
  for (const auto& frame : device.Transcript().Frames(ESimEvent::Out)) count += !frame.empty() && frame[0] == command;
  return count;
}

// The commands of a download that passes every check, in order.
const std::string kWholeDownload = "2/1 2/2 2/5 5/27 5/21 5/29 3/6 3/7 3/9 4/10 4/11 4/14 4/17 6/22 6/25 6/26 6/24";

class ServoDownloadTest : public SimUsbBusTest {
 protected:
  ServoDownloadTest() {
    SetUiLanguage(LANG_ENGLISH);
    DeviceCatalog::SetCatalogFile((m_folder / "tavrix-update.config").string());
    m_entry.ClassName = "CUpdaterServo";
    m_entry.Id = "ZQ3351-9F";
    m_entry.Name = "Servo trainer";
    m_entry.UsbPid = 0x3351;
    m_entry.FirmwareVersion = 130;
    m_entry.HasApplication = true;
    m_entry.ApplicationVersion = 110;
    m_entry.FirmwarePath = (m_folder / "firmware" / "servo.seg").string();
    WriteProject("Drive001", StandardFiles());
    // The user's own data folder, empty unless a test puts a project there.
    ::setenv("XDG_DATA_HOME", (m_folder / "user").c_str(), 1);
  }
  ~ServoDownloadTest() override {
    ::unsetenv("XDG_DATA_HOME");
    DeviceCatalog::SetCatalogFile({});
  }

  // The configuration, an application with the version tag of 1.10 that the simulated drive
  // then reports, and a parameter file: 2900 bytes.
  static ProjectFiles StandardFiles() {
    std::string application = Filled(2500, 'a');
    application.replace(0x200, 22, "TAVRIX-FW-VERSION=110");
    return {{"DEVCONF.DAT", Filled(100, 'c')}, {"APP.BIN", application}, {"PARAM.DAT", Filled(300, 'p')}};
  }

  std::string ProjectFolder(const std::string& name) const { return (m_folder / name).string(); }
  void WriteProject(const std::string& name, const ProjectFiles& files, const std::string& memoryModule = "MEM-1024") {
    std::filesystem::create_directories(m_folder / name);
    std::string list = "<?xml version=\"1.0\"?>\n<ProjectExport Version Firmware=\"1.30\" MemoryModule=\"" +
                       memoryModule + "\" SafetyModule=\"SAFE-NONE\">\n<Files NumberOfFiles=\"" +
                       std::to_string(files.size()) + "\">\n";
    for (const auto& [file, bytes] : files) {
      list += "<File Name=\"" + file + "\"/>\n";
      std::ofstream(m_folder / name / file, std::ios::binary) << bytes;
    }
    std::ofstream(m_folder / name / "ProjectExportList.xml", std::ios::binary) << list << "</Files>\n</ProjectExport>\n";
  }

  CSimServo& Plug(const std::string& options) { return PlugDescribed<CSimServo>("servo:" + options); }

  // The files on the drive: path -> bytes.
  static std::map<std::string, std::string> DriveFiles(const CSimServoDrive& drive) {
    std::map<std::string, std::string> files;
    for (const CSimServoFile& file : drive.Files().Files()) files[file.Path] = std::string(file.Data.begin(), file.Data.end());
    return files;
  }

  DeviceRecord m_entry;
  CDownloadLog m_log;
  CRecordingProgress m_progress;
};

TEST_F(ServoDownloadTest, TheUpdaterDownloadsTheProjectAndTheDriveReportsTheNewApplication) {
  CSimServo& trainer = Plug("firmware=130,application=100");
  std::unique_ptr<CUpdater> created = UpdaterRegistry::Instance().Create("CUpdaterServo", m_entry);
  ASSERT_NE(created, nullptr) << "registered by its class name";

  CUpdaterServo updater(m_log);
  ASSERT_TRUE(updater.Connect());
  EXPECT_EQ(updater.GetFirmwareVersion(), 130);
  EXPECT_EQ(updater.GetApplicationVersion(), 100);
  ASSERT_TRUE(updater.Update(m_entry, &m_progress)) << m_log.Text();
  EXPECT_EQ(m_log.Text(), "");
  EXPECT_EQ(updater.DownloadLog(), "");

  const CSimServoDrive drive = trainer.Drive();
  EXPECT_EQ(Commands(drive), kWholeDownload);
  // The inhibit is already set and no application runs: only the two commands after the download.
  EXPECT_EQ(DeviceCommands(drive), (std::vector<std::uint32_t>{31, 42}));
  const ProjectFiles files = StandardFiles();
  EXPECT_EQ(DriveFiles(drive), (std::map<std::string, std::string>{{"\\project\\DevConf.dat", files[0].second},
                                                                     {"\\project\\APP.BIN", files[1].second},
                                                                     {"\\project\\PARAM.DAT", files[2].second}}));
  EXPECT_EQ(trainer.ApplicationVersion(), 110);

  const std::vector<std::string>& shown = m_progress.shown;
  ASSERT_GE(shown.size(), 4u);
  EXPECT_EQ(shown[0], "marquee");
  EXPECT_EQ(shown[1], "range 0 4");
  EXPECT_EQ(shown[2], "project " + ProjectFolder("Drive001") + ": 3 files to download (2 kByte)");
  EXPECT_EQ(shown.back(), "pos 4");
  // The configuration goes first, under its own status; the main transfer leaves it out.
  auto at = [&](const std::string& text) { return std::find(shown.begin(), shown.end(), "status " + text) - shown.begin(); };
  EXPECT_LT(at("DEVCONF.DAT"), at("Check config file"));
  EXPECT_LT(at("Start file transfer"), at("Transfering DEVCONF.DAT"));
  EXPECT_LT(at("Transfering APP.BIN"), at("Transfering PARAM.DAT"));
  EXPECT_LT(at("Transfering PARAM.DAT"), at("Finish download"));
  // Each file turns the slash from its start: 100 bytes, 1024 + 1024 + 452, 300.
  EXPECT_EQ(m_progress.details, "/" "/\\/" "/");

  CUpdaterServo again(m_log);
  ASSERT_TRUE(again.Connect());
  EXPECT_EQ(again.GetApplicationVersion(), 110);
  EXPECT_FALSE(NeedsProgramming(m_entry, again.GetFirmwareVersion(), again.GetApplicationVersion()));
}

TEST_F(ServoDownloadTest, TheSwitchMustBeAtOffToConnect) {
  Plug("switch=run");
  m_ui.QueueMessageBoxAnswer(IDCANCEL);
  CUpdaterServo updater(m_log);
  EXPECT_FALSE(updater.Connect());
  EXPECT_EQ(m_ui.MessageTexts(), std::vector<std::string>{LoadResString(20106)});

  m_ui.ClearRecord();
  m_bus->Unplug(*m_server);
  Plug("run_asks=1");
  CUpdaterServo second(m_log);
  EXPECT_TRUE(second.Connect()) << "OK once the switch is at OFF";
  EXPECT_EQ(m_ui.MessageTexts(), std::vector<std::string>{LoadResString(20106)});
}

TEST_F(ServoDownloadTest, NothingOlderClosesTheControlUnitAndSendsNothing) {
  CSimServo& trainer = Plug("firmware=130,application=110");
  CUpdaterServo updater(m_log);
  ASSERT_TRUE(updater.Connect());
  ASSERT_TRUE(updater.Update(m_entry, &m_progress));
  EXPECT_EQ(Commands(trainer.Drive()), "");
  EXPECT_TRUE(m_progress.shown.empty());
  // The close command is not answered: the device may take it after the host has gone on.
  EXPECT_TRUE(trainer.Transcript().WaitFor(
      [](const CSimTranscript::Entries_t& entries) {
        return std::any_of(entries.begin(), entries.end(), [](const CSimTranscriptEntry& entry) {
          return entry.Event == ESimEvent::Out && !entry.Bytes.empty() && entry.Bytes[0] == 0xA2;
        });
      },
      5s));
  EXPECT_EQ(FramesBeginningWith(trainer, 0xA2), 1u) << "the close command";
}

TEST_F(ServoDownloadTest, TheFirmwareDownloadFollowsTheEntryId) {
  // The control unit's loader as far as the first command of a download, which tells the two
  // downloads apart: the C28xx-based one starts with the single byte 1E, the segment download
  // with its header 1F. Then the loader refuses the header.
  struct Case {
    const char* id;
    const char* identity;
    const char* imageOf;  // the updater class whose demo image the download reads
    std::uint8_t first;
  };
  const Case cases[] = {
      {"zp2290-8e", "ZP2290-8E 120", "CUpdaterC28XX", 0x1E},
      {"ZQ3351-9F", "ZQ3351-9F 120", "CUpdaterServo", 0x1F},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    std::atomic<int> first = -1;
    CSimDeviceSetup setup = Setup(0x3351, ESimGeneration::First);
    setup.FriendlyName = "Tavrix Kinetra";
    CTestSimDevice& loader = m_bus->Plug<CTestSimDevice>(setup, [&](CSimConnection& io) {
      for (;;) {
        const std::uint8_t command = io.ReadByte();
        if (command == 0x90) {
          io.WriteBytes({'!'});
        } else if (command == 0x91) {
          io.WriteString(c.identity);
        } else {
          if (first == -1) first = command;
          if (command == 0x1F) {
            io.ReadBytes(4);
            io.WriteBytes({0x3F, 0x3F});  // both loaders' refusal of the header: the download fails
          }
        }
      }
    });
    m_entry.Id = c.id;
    ASSERT_EQ(WriteDemoFirmware(c.imageOf, 130, m_entry.FirmwarePath), EDemoFirmwareResult::Written);
    CUpdaterServo updater(m_log);
    ASSERT_TRUE(updater.Connect());
    EXPECT_FALSE(updater.Update(m_entry, &m_progress));
    EXPECT_EQ(first, c.first);
    m_bus->Unplug(*m_bus->ServerOf(loader));
  }
}

// Each way the download can end early, or pass a failed check: the log, the
// commands the drive received (an abort is 6/23), the device commands, the result.
TEST_F(ServoDownloadTest, FailuresEndWithTheirLogTextsAndTheAbortRule) {
  struct Options {
    bool stopApplication = true;
    bool setControllerInhibit = true;
    bool acceptModuleErrors = true;
  };
  struct Case {
    const char* name;
    std::string sim;
    bool prepared;  // through DownloadApplication (the project of the drive found), else the
                    // sequence on Drive001 with `options`
    Options options;
    bool result;
    std::string log;
    std::string commands;
    std::vector<std::uint32_t> deviceCommands;
    ProjectFiles project = {};         // replaces Drive001's files
    std::string memoryModule = "MEM-1024";
  };
  const std::string notEnough = "Not enough memory.\nFree space on the drive is 500 KB. Required space is 600 KB.";
  const Case cases[] = {
      {"no drive", "drive=0", true, {}, false,
       "No drive is attached to the control unit. Connect the drive, switch it on and start the update again.", "", {}},
      {"drive 7", "drive=7", true, {}, false,
       "The control unit reports drive 7; projects exist for drives 1 to 6. Check the drive number set on the drive.", "",
       {}},
      {"drive 3 without Drive003", "drive=3", true, {}, false,
       "The project folder of drive 3 does not exist, neither '" + ProjectFolder("user/tavrix-update/Drive003") +
           "' nor '" + ProjectFolder("Drive003") + "'. Put the drive's project in one of them and start the update again.",
       "", {}},
      {"600 KB for 500 KB free", "free=512000", true, {}, false, notEnough, "2/1 6/23", {},
       {{"DEVCONF.DAT", Filled(1024, 'c')}, {"BIG.BIN", Filled(613376, 'b')}}},
      {"another memory module: exit, no abort", "", true, {}, false, "Check MemoryModule failed.", "", {}, {},
       "MEM-2048"},
      {"software modules refused, an error file, accepted", "fail=21:1,error_file=40", true, {}, true,
       "Check software modules failed.",
       "2/1 2/2 2/5 5/27 5/21 5/31 5/29 3/6 3/7 3/9 4/10 4/11 4/14 4/17 6/22 6/25 6/26 6/24", {31, 42}},
      {"software modules refused, no error file: on to the hardware check", "fail=21:1", true, {}, true,
       "Check software modules failed.", kWholeDownload, {31, 42}},
      {"software modules refused, an error file, not accepted", "fail=21:1,error_file=40", false,
       {.acceptModuleErrors = false}, false, "Check software modules failed.\nDownload aborted.",
       "2/1 2/2 2/5 5/27 5/21 6/23", {}},
      {"standard application accepted", "fail=7:1", true, {}, true, "Check for standard application failed.",
       "2/1 2/2 2/5 5/27 5/21 5/29 3/6 3/7 3/8 3/9 4/10 4/11 4/14 4/17 6/22 6/25 6/26 6/24", {31, 42}},
      {"standard application not accepted", "fail=7:1", false, {.acceptModuleErrors = false}, false,
       "Check for standard application failed.\nDownload aborted.",
       "2/1 2/2 2/5 5/27 5/21 5/29 3/6 3/7 6/23", {}},
      {"a running application is stopped under controller inhibit", "running", true, {}, true, "", kWholeDownload,
       {41, 32, 31, 42}},
      {"controller enabled and not to be inhibited: exit", "running", false, {.setControllerInhibit = false}, false,
       "Controller enable - not OK.\nCheckPrepareDownload failed.", "", {}},
      {"an application running and not to be stopped: exit", "running", false, {.stopApplication = false}, false,
       "Application active - not OK.\nCheckPrepareDownload failed.", "", {41}},
      {"check target refused: abort", "fail=27:5", true, {}, false, "Check target failed.", "2/1 2/2 2/5 5/27 6/23",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteProject("Drive001", c.project.empty() ? StandardFiles() : c.project, c.memoryModule);
    CSimServo& trainer = Plug(c.sim);
    CDownloadLog log;
    CDrive drive(log);
    ASSERT_EQ(drive.OpenAndIdentify(), CStreamDevice::kConnected);
    bool result = false;
    if (c.prepared) {
      result = drive.DownloadApplication(&m_progress);
    } else {
      ASSERT_TRUE(drive.SelectNode(1));
      result = drive.RunDownloadSequence(ProjectFolder("Drive001"), 1, true, true, c.options.stopApplication,
                                         c.options.setControllerInhibit, c.options.acceptModuleErrors, &m_progress);
    }
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(log.Text(), c.log);
    const CSimServoDrive state = trainer.Drive();
    EXPECT_EQ(Commands(state), c.commands);
    EXPECT_EQ(DeviceCommands(state), c.deviceCommands);
    // A drive without a project is refused by the preparation: its link never opened.
    const bool refusedInPreparation = c.log.starts_with("No drive ") ||
                                      c.log.starts_with("The control unit reports drive ") ||
                                      c.log.starts_with("The project folder of drive ");
    if (refusedInPreparation) {
      EXPECT_EQ(FramesBeginningWith(trainer, 0xC1), 0u);
    }
    m_bus->Unplug(*m_server);
  }
}

// A stop asked for before the download meets its first safe point, the drive working on its
// first command: the drive hears the abort (6/23), and gets back only what the download took
// from it. A drive found running and enabled is started and enabled again (31, 42, as after a
// finished download); one found standing under controller inhibit is left so.
TEST_F(ServoDownloadTest, AStopAbortsAndGivesBackOnlyWhatTheDownloadTook) {
  const struct {
    const char* sim;
    std::vector<std::uint32_t> deviceCommands;
  } cases[] = {{"running", {41, 32, 31, 42}}, {"", {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sim);
    CSimServo& trainer = Plug(c.sim);
    CDownloadLog log;
    CDrive drive(log);
    ASSERT_EQ(drive.OpenAndIdentify(), CStreamDevice::kConnected);
    RequestProgrammingStop();
    EXPECT_THROW(drive.DownloadApplication(&m_progress), CProgrammingStopped);
    ClearProgrammingStop();
    EXPECT_EQ(log.Text(), "Download stopped on request.");
    const CSimServoDrive state = trainer.Drive();
    EXPECT_EQ(Commands(state), "2/1 6/23");
    EXPECT_EQ(DeviceCommands(state), c.deviceCommands);
    m_bus->Unplug(*m_server);
  }
}

TEST_F(ServoDownloadTest, AHardwareModuleErrorFileIsCopiedIntoTheProject) {
  // A drive whose segments are larger than one answer can carry: the error file still comes
  // back whole, read in pieces an answer holds.
  for (const std::string options : {"error_file_text=\"module 3 missing\"", "error_file=3000,segment_size=4096"}) {
    SCOPED_TRACE(options);
    CSimServo& trainer = Plug("fail=29:1," + options);
    const std::map<std::string, std::string> before = DriveFiles(trainer.Drive());
    CDownloadLog log;
    CDrive drive(log);
    ASSERT_EQ(drive.OpenAndIdentify(), CStreamDevice::kConnected);
    EXPECT_TRUE(drive.DownloadApplication(nullptr)) << log.Text();
    EXPECT_EQ(log.Text(), "Check hardware modules failed.");
    EXPECT_EQ(ReadWholeFile(m_folder / "Drive001" / "DevCErr.dat"), before.at("\\project\\DevCErr.dat"));
    m_bus->Unplug(*m_server);
  }
}

// An installed catalog lies where the user cannot write: a project in the user's own data
// folder comes first, and the drive's error file goes there when the project folder cannot
// take it (here a folder stands where the file would be, which stops root too).
TEST_F(ServoDownloadTest, TheUsersOwnProjectComesFirstAndTakesTheErrorFileTheProjectCannot) {
  std::filesystem::create_directories(m_folder / "user" / "tavrix-update");
  std::filesystem::rename(m_folder / "Drive001", m_folder / "user" / "tavrix-update" / "Drive001");
  WriteProject("Drive001", {{"OTHER.DAT", Filled(10, 'o')}});
  std::filesystem::create_directories(m_folder / "user" / "tavrix-update" / "Drive001" / "DevCErr.dat");
  CSimServo& trainer = Plug("fail=29:1,error_file_text=\"module 3 missing\"");
  const std::map<std::string, std::string> before = DriveFiles(trainer.Drive());
  CDownloadLog log;
  CDrive drive(log);
  ASSERT_EQ(drive.OpenAndIdentify(), CStreamDevice::kConnected);
  CRecordingProgress progress;
  EXPECT_TRUE(drive.DownloadApplication(&progress)) << log.Text();
  const std::string own = ProjectFolder("user/tavrix-update/Drive001");
  EXPECT_NE(std::find(progress.shown.begin(), progress.shown.end(),
                      "project " + own + ": 3 files to download (2 kByte)"),
            progress.shown.end());
  EXPECT_EQ(DriveFiles(trainer.Drive()).count("\\project\\OTHER.DAT"), 0u) << "the project beside the catalog";
  EXPECT_EQ(ReadWholeFile(m_folder / "user" / "tavrix-update" / "DevCErr.dat"), before.at("\\project\\DevCErr.dat"));
  EXPECT_EQ(log.Text(), "Check hardware modules failed.\nThe drive's error file could not be written to '" + own +
                            "/DevCErr.dat'; it is in '" + ProjectFolder("user/tavrix-update/DevCErr.dat") + "'.");
}

TEST_F(ServoDownloadTest, AProjectListThatCannotBeSentFailsBeforeTheDriveLinkOpens) {
  struct Case {
    const char* name;
    std::function<void()> spoil;
    std::string log;
  };
  const Case cases[] = {
      {"a listed file missing", [&] { std::filesystem::remove(m_folder / "Drive001" / "PARAM.DAT"); },
       "The project file '" + ProjectFolder("Drive001") + "/PARAM.DAT' named in ProjectExportList.xml is missing."},
      {"no list", [&] { std::filesystem::remove(m_folder / "Drive001" / "ProjectExportList.xml"); },
       "ProjectExportList.xml could not be opened."},
      {"more files to send than named",
       [&] {
         std::ofstream(m_folder / "Drive001" / "ProjectExportList.xml")
             << "<P NumberOfFiles=\"2\"><File Name=\"APP.BIN\"/></P>";
       },
       "ProjectExportList.xml gives NumberOfFiles=\"2\" but names 1 files."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteProject("Drive001", StandardFiles());
    c.spoil();
    CSimServo& trainer = Plug("");
    CDownloadLog log;
    CDrive drive(log);
    ASSERT_EQ(drive.OpenAndIdentify(), CStreamDevice::kConnected);
    EXPECT_FALSE(drive.DownloadApplication(&m_progress));
    EXPECT_EQ(log.Text(), c.log);
    EXPECT_EQ(FramesBeginningWith(trainer, 0xC1), 0u) << "the link to the drive was never opened";
    m_bus->Unplug(*m_server);
  }
}

}  // namespace
