// The application download of the servo drive: the project folder of the attached drive is
// prepared on the PC, then sent into the drive's file system by a fixed sequence of drive
// commands (code 514, one subindex per group, checked through the status code 515). Every
// failure is recorded in the download log; failures before the drive is told to start the
// download only leave (exit), later ones also tell the drive to abort it.

#include <algorithm>
#include <climits>
#include <filesystem>

#include "devices/servo/drive.h"
#include "devices/servo/gci_message.h"
#include "devices/servo/project_list.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_folders.h"
#include "updater/device_catalog.h"
#include "updater/flash_progress.h"
#include "updater/stop_request.h"

namespace {

// Drive codes of the download.
constexpr int kDeviceCommandCode = 2;     // 2/0, device commands
constexpr int kDriveTypeCode = 99;        // must be readable
constexpr int kInhibitStatusCode = 150;   // bit 7: controller inhibit active
constexpr int kRunStatusCode = 155;       // bit 11: application running
constexpr int kModulesCode = 203;         // /5 memory module, /6 safety module
constexpr int kMemoryModuleSubindex = 5;
constexpr int kSafetyModuleSubindex = 6;
constexpr int kDriveFolderCode = 513;     // the drive folder that receives the project
constexpr int kCommandCode = 514;         // the download commands, grouped by subindex
constexpr int kCommandStatusCode = 515;   // 2 while a command runs, 0 when it succeeded

constexpr int kInhibitActiveBit = 0x80;
constexpr int kApplicationRunningBit = 0x800;

// Device commands written to 2/0.
constexpr int kSetControllerInhibit = 41;
constexpr int kStopApplication = 32;
constexpr int kAfterDownload31 = 31;
constexpr int kAfterDownload42 = 42;

// Command subindexes of 514 and their commands.
constexpr int kProgramSelectionSubindex = 1;
constexpr int kDownloadSubindex = 2;
constexpr int kInitializeDownload = 1;     // 514/2
constexpr int kAbortDownloadSubindex = 6;
constexpr int kAbortDownload = 23;         // 514/6

constexpr std::uint32_t kDefaultSegmentSize = 1024;
// One read answer carries at most this much of a file, whatever segment size the drive names.
constexpr std::uint32_t kMaxReadSegment = gci::kMaxAnswer - gci::kHeaderSize;
constexpr std::uint8_t kFirstDrive = 1;
constexpr std::uint8_t kLastDrive = 6;

// One command of the sequence: the status line shown before it, the command 514/Subindex =
// Value, and the text that ends the download when the drive reports it failed.
struct SCommandStep {
  const char* Status;
  int Subindex;
  int Value;
  const char* Failure;
};

constexpr SCommandStep kCheckConfigFile{"Check config file", 2, 2, "Check Config file failed."};
constexpr SCommandStep kSelectMemoryModule{"Select download mode", 2, 5, "Download in the Memory Module failed."};
constexpr SCommandStep kCheckTarget{"Check target", 5, 27, "Check target failed."};
constexpr SCommandStep kCheckWriteProtection{"Check write protection", 3, 6, "Check write protection failed."};
constexpr SCommandStep kBeforeTransfer[] = {
    {"Check for password", 3, 9, "Check for password failed."},
    {"Check exceptions", 4, 10, "Check exceptions failed."},
    {"Check controller inhibit", 4, 11, "Check controller inhibit failed."},
    {"Check quick stop", 4, 14, "Check quick stop failed."},
    {"Check PLC stop", 4, 17, "Check PLC stop failed."},
    {"Initialize file transfer", 6, 22, "Initialize file transfer failed."},
    {"Start file transfer", 6, 25, "Start file transfer failed."},
};
constexpr SCommandStep kAfterTransfer[] = {
    {"End file transfer", 6, 26, "End file transfer failed."},
    {"Finish download", 6, 24, "Finish download failed."},
};

// A check whose failure the drive explains in its error file, and which the download can
// accept with a second command.
struct SModuleCheck {
  SCommandStep Check;
  int AcceptValue;
  bool RecordUnwritten;  // a check command that could not be written is recorded too
  bool CopyErrorFile;    // the drive's error file is copied into the project folder
};

constexpr SModuleCheck kSoftwareModules{
    {"Check software modules", 5, 21, "Check software modules failed."}, 31, true, false};
constexpr SModuleCheck kHardwareModules{
    {"Check hardware modules", 5, 29, "Check hardware modules failed."}, 32, false, true};

constexpr SCommandStep kStandardApplication{"Check for standard application", 3, 7,
                                            "Check for standard application failed."};
constexpr int kAcceptStandardApplication = 8;

// For a caller without a progress display.
class CSilentProgress final : public IFlashProgress {
 public:
  void SetRange(std::uint16_t, std::uint16_t) override {}
  bool SetPos(int) override { return true; }
  void SetMarquee() override {}
  void SetDetailText(const std::string&) override {}
  bool PumpMessages() override { return true; }

 protected:
  void ShowStatusText(const std::string&) override {}
};

std::string DrivePath(const std::string& driveFolder, const std::string& name) { return driveFolder + "\\" + name; }

// Whole kilobytes, as the texts show them.
int KiloBytes(std::uint64_t bytes) { return static_cast<int>(std::min<std::uint64_t>(bytes / 1024, INT_MAX)); }

// One run of the download sequence on a drive whose link is not open yet.
class CDownloadRun {
 public:
  struct SOptions {
    int ProgramSelection;
    bool SendCommand31;
    bool SendCommand42;
    bool StopApplication;
    bool SetControllerInhibit;
    bool AcceptModuleErrors;
  };

  CDownloadRun(CDrive& drive, std::string projectFolder, SOptions options, IFlashProgress* progress)
      : m_drive(drive),
        m_projectFolder(std::move(projectFolder)),
        m_options(options),
        m_progress(progress != nullptr ? *progress : m_silent) {}

  bool Run() {
    try {
      return OpenLink() && CheckDrive() && StartDownload() && CheckProject() && SendFiles() && FinishDownload();
    } catch (const CProgrammingStopped&) {
      // Stopped at a safe point: the drive is told to abort, as on a failure of its own; the
      // abort drops the download, so the project it ran before stays its project. A stop is
      // the person's choice, not the drive's fault: it gets back its application running and
      // its controller enabled, as far as this download took them, instead of being left
      // standing.
      Record("Download stopped on request.");
      m_drive.AbortDownload();
      m_drive.RestoreAfterStoppedDownload();
      CloseLink();
      throw;
    }
  }

 private:
  enum class ECommand { Passed, Failed, NotWritten };

  // The link to the drive, its message handles, and a drive ready to take a download.
  // Failures up to the program selection leave without telling the drive anything more.
  bool OpenLink() {
    if (!m_drive.OpenDriveLink()) return Exit("Connection failed.");
    m_progress.SetStatusText("Install GCI");
    if (!m_drive.InstallGci()) return Exit("Install GCI failed.");
    m_progress.SetStatusText("Check, if the prerequisites for the download are OK");
    if (!m_drive.CheckPrepareDownload(m_options.StopApplication, m_options.SetControllerInhibit)) {
      return Exit("CheckPrepareDownload failed.");
    }
    return true;
  }

  // The project list against the drive's modules, the segment size and the program selection.
  bool CheckDrive() {
    if (!m_list.Load(m_projectFolder) || !m_list.CheckFiles(m_projectFolder)) return Exit(m_list.Refusal());
    std::string value;
    if (!ReadString(kDriveTypeCode, 0, value)) return Exit("Read code value 99 failed.");
    if (!ReadString(kModulesCode, kMemoryModuleSubindex, value)) return Exit("Read code value 203/5 failed.");
    if (value.find(m_list.MemoryModule()) == std::string::npos) return Exit("Check MemoryModule failed.");
    if (!ReadString(kModulesCode, kSafetyModuleSubindex, value)) {
      return Exit("Read code value 203/6 failed.");
    }
    if (value.find(m_list.SafetyModule()) == std::string::npos) return Exit("Compare Safety Module failed");
    std::uint32_t segmentSize = 0;
    m_segmentSize = m_drive.GetSegmentSize(segmentSize) && segmentSize != 0 ? segmentSize : kDefaultSegmentSize;
    if (!m_drive.WriteCodeValueInt(kCommandCode, kProgramSelectionSubindex, m_options.ProgramSelection)) {
      return Exit("Set program selection failed.");
    }
    return true;
  }

  // The download begins: from here on a failure also tells the drive to abort it. The drive's
  // folder, its free space, its configuration.
  bool StartDownload() {
    m_progress.SetStatusText("Initialize download");
    switch (Command(kDownloadSubindex, kInitializeDownload)) {
      case ECommand::Failed: return Abort("Initialize download failed.");
      case ECommand::NotWritten: Record("Could not write Code Value 514/2 Value 1."); break;
      case ECommand::Passed: break;
    }
    m_progress.SetStatusText("Check project selection");
    int selection = 0;
    if (!m_drive.ReadCodeValueInt(kCommandCode, kProgramSelectionSubindex, selection)) {
      Record("Could not read CodeValue 514/1.");
    } else if (selection != m_options.ProgramSelection) {
      return Abort("Check project selection failed.");
    }
    m_progress.SetStatusText("Read config file");
    if (!ReadString(kDriveFolderCode, 0, m_driveFolder)) return Abort("Read config file path failed.");
    std::uint32_t freeBytes = 0;
    const bool sizeKnown = m_drive.GetSizeDir(m_driveFolder, freeBytes);
    if (sizeKnown && freeBytes < m_list.RequiredBytes()) {
      return Abort(FormatText("Not enough memory.\nFree space on the drive is %d KB. Required space is %d KB.",
                              KiloBytes(freeBytes), KiloBytes(m_list.RequiredBytes())));
    }
    return SendConfiguration(sizeKnown);
  }

  // The first listed configuration goes before the drive checks the project.
  bool SendConfiguration(bool sizeKnown) {
    for (const std::string& name : m_list.FileNames()) {
      m_progress.SetStatusText("%s", name.c_str());
      if (!CProjectList::IsConfiguration(name)) continue;
      return Send(CProjectList::LocalPath(m_projectFolder, CProjectList::kConfigurationName),
                  DrivePath(m_driveFolder, CProjectList::kConfigurationDriveName));
    }
    if (!sizeKnown) Record("Write config file failed.");
    return true;
  }

  // The drive checks the project and its own state.
  bool CheckProject() {
    if (!Step(kCheckConfigFile) || !Step(kSelectMemoryModule) || !Step(kCheckTarget)) return false;
    if (!CheckModules(kSoftwareModules) || !CheckModules(kHardwareModules)) return false;
    if (!Step(kCheckWriteProtection) || !CheckStandardApplication()) return false;
    return std::all_of(std::begin(kBeforeTransfer), std::end(kBeforeTransfer),
                       [this](const SCommandStep& step) { return Step(step); });
  }

  // A module check; when it fails, the drive's error file decides whether it is accepted.
  bool CheckModules(const SModuleCheck& check) {
    m_progress.SetStatusText("%s", check.Check.Status);
    const ECommand result = Command(check.Check.Subindex, check.Check.Value);
    if (result == ECommand::Passed || (result == ECommand::NotWritten && !check.RecordUnwritten)) return true;
    Record(check.Check.Failure);
    if (result == ECommand::NotWritten) return true;
    std::string folder;
    if (!ReadString(kDriveFolderCode, 0, folder)) return Abort("Read path for error file failed.");
    const std::string errorFile = DrivePath(folder, CDrive::kErrorFileName);
    std::uint32_t size = 0;
    if (!m_drive.GetFileSize(errorFile, size) || size == 0) return true;
    if (check.CopyErrorFile) {
      m_drive.ReadErrorFile(m_projectFolder, size, errorFile, std::min(m_segmentSize, kMaxReadSegment));
    }
    if (!m_options.AcceptModuleErrors) return Abort("Download aborted.");
    return Require(check.Check.Subindex, check.AcceptValue, check.Check.Failure);
  }

  // A standard application on the drive is replaced only when module errors are accepted.
  bool CheckStandardApplication() {
    m_progress.SetStatusText("%s", kStandardApplication.Status);
    if (Command(kStandardApplication.Subindex, kStandardApplication.Value) != ECommand::Failed) return true;
    Record(kStandardApplication.Failure);
    if (!m_options.AcceptModuleErrors) return Abort("Download aborted.");
    return Require(kStandardApplication.Subindex, kAcceptStandardApplication, kStandardApplication.Failure);
  }

  // The project files, the configuration left out (it went first).
  bool SendFiles() {
    if (!ReadString(kDriveFolderCode, 0, m_driveFolder)) return Abort("File transfer failed.");
    for (int i = 0; i < m_list.NumberOfFiles(); ++i) {
      StopIfRequested();
      const std::string& name = m_list.FileNames()[static_cast<std::size_t>(i)];
      m_progress.SetStatusText("Transfering %s", name.c_str());
      if (!CProjectList::IsConfiguration(name) &&
          !Send(CProjectList::LocalPath(m_projectFolder, name), DrivePath(m_driveFolder, name))) {
        return false;
      }
      // One step of the bar per file; the configuration went first and counts here.
      m_progress.SetPos(i + 1);
    }
    return true;
  }

  // The transfer ends, the download is finished, the drive is told to go on.
  bool FinishDownload() {
    if (!Step(kAfterTransfer[0]) || !Step(kAfterTransfer[1])) return false;
    if (m_options.SendCommand31) m_drive.WriteCodeValueInt(kDeviceCommandCode, 0, kAfterDownload31);
    if (m_options.SendCommand42) m_drive.WriteCodeValueInt(kDeviceCommandCode, 0, kAfterDownload42);
    CloseLink();
    return true;
  }

  bool Send(const std::string& localPath, const std::string& drivePath) {
    if (m_drive.TransferFile(localPath, drivePath, m_segmentSize, &m_progress)) return true;
    return Abort(FormatText("Transfer of file '%s' failed.", localPath.c_str()));
  }

  // Writes 514/subindex = value and, when that was written, waits for the drive's status of
  // it. A command that could not be written counts as passed (its write failure is in the
  // log already).
  ECommand Command(int subindex, int value) {
    if (!m_drive.WriteCodeValueInt(kCommandCode, subindex, value)) return ECommand::NotWritten;
    int status = 2;
    m_drive.ReadCodeValueInt(kCommandStatusCode, 0, status);
    return status == 0 ? ECommand::Passed : ECommand::Failed;
  }
  // The command, and an abort with `failure` when the drive reports it failed.
  bool Require(int subindex, int value, const char* failure) {
    return Command(subindex, value) != ECommand::Failed || Abort(failure);
  }
  // The status line, then the step's command.
  bool Step(const SCommandStep& step) {
    m_progress.SetStatusText("%s", step.Status);
    return Require(step.Subindex, step.Value, step.Failure);
  }
  // A string code value into an empty text: an error answer leaves it empty.
  bool ReadString(int code, int subindex, std::string& value) {
    value.clear();
    return m_drive.ReadCodeValueString(code, subindex, value);
  }

  void Record(const std::string& text) { m_drive.LogDownloadFailure(text); }
  void CloseLink() {
    if (!m_drive.DeinstallGci()) Record("Deinstall GCI failed.");
    m_drive.CloseDriveLink();
  }
  bool Exit(const std::string& text) {
    Record(text);
    CloseLink();
    return false;
  }
  bool Abort(const std::string& text) {
    Record(text);
    m_drive.AbortDownload();
    CloseLink();
    return false;
  }

  CDrive& m_drive;
  const std::string m_projectFolder;
  const SOptions m_options;
  CSilentProgress m_silent;
  IFlashProgress& m_progress;
  CProjectList m_list;
  std::uint32_t m_segmentSize = kDefaultSegmentSize;
  std::string m_driveFolder;
};

}  // namespace

bool CDrive::PrepareProject(IFlashProgress* progress) {
  // Without a project there is nothing to send; the log says why, so that a person is not
  // left with a failure and no reason.
  const std::uint8_t drive = GetDriveNumber();
  if (drive == 0) {
    LogDownloadFailure(
        "No drive is attached to the control unit. Connect the drive, switch it on and start the update again.");
    return false;
  }
  if (drive < kFirstDrive || drive > kLastDrive) {
    LogDownloadFailure(FormatText("The control unit reports drive %d; projects exist for drives %d to %d. "
                                  "Check the drive number set on the drive.",
                                  drive, kFirstDrive, kLastDrive));
    return false;
  }
  // A project of the user's own comes first: an installed catalog lies in a folder the user
  // cannot write, and the drive's error file is copied back into the project's folder.
  const std::string name = FormatText("Drive%03d", drive);
  const std::string own = UserDataFolder() + "/" + name;
  const std::string beside = DeviceCatalog::DataFolder() + name;
  std::error_code error;
  const std::string folder = std::filesystem::is_directory(own, error) ? own : beside;
  if (!std::filesystem::is_directory(folder, error)) {
    LogDownloadFailure(FormatText("The project folder of drive %d does not exist, neither '%s' nor '%s'. "
                                  "Put the drive's project in one of them and start the update again.",
                                  drive, own.c_str(), beside.c_str()));
    return false;
  }
  m_projectFolder = folder;
  // What the drive will be sent is checked here, before anything of the download reaches it.
  CProjectList list;
  if (!list.Load(folder) || !list.CheckFiles(folder)) {
    LogDownloadFailure(list.Refusal());
    return false;
  }
  m_projectSizeKB = KiloBytes(list.RequiredBytes());
  m_progressSteps = list.NumberOfFiles() + 1;
  if (progress != nullptr) {
    progress->SetRange(0, static_cast<std::uint16_t>(m_progressSteps));
    progress->ShowProject(folder, FormatText(LoadResString(36).c_str(), list.NumberOfFiles(), m_projectSizeKB));
  }
  return true;
}

bool CDrive::DownloadApplication(IFlashProgress* progress) {
  if (!PrepareProject(progress) || m_projectFolder.empty()) return false;
  SelectNode(1);
  const bool downloaded = RunDownloadSequence(m_projectFolder, 1, true, true, true, true, true, progress);
  // A full bar only for a project the drive took whole.
  if (downloaded && progress != nullptr) progress->SetPos(m_progressSteps);
  if (downloaded) CloseDevice();
  return downloaded;
}

bool CDrive::RunDownloadSequence(const std::string& projectFolder, int programSelection, bool sendCommand31,
                                 bool sendCommand42, bool stopApplication, bool setControllerInhibit,
                                 bool acceptModuleErrors, IFlashProgress* progress) {
  if (Stream() == nullptr || !Stream()->IsOpen()) return false;
  ResetAnswerCounter();
  CDownloadRun run(*this, projectFolder,
                   {programSelection, sendCommand31, sendCommand42, stopApplication, setControllerInhibit,
                    acceptModuleErrors},
                   progress);
  return run.Run();
}

bool CDrive::CheckPrepareDownload(bool stopApplication, bool setControllerInhibit) {
  m_inhibitSet = false;
  m_applicationStopped = false;
  bool checked = true;
  int inhibit = 0;
  if (!ReadCodeValueInt(kInhibitStatusCode, 0, inhibit)) {
    LogDownloadFailure("Read Codevalue 150 failed.");
    checked = false;
  } else if ((inhibit & kInhibitActiveBit) == 0) {
    if (!setControllerInhibit) {
      LogDownloadFailure("Controller enable - not OK.");
      return false;
    }
    if (!WriteCodeValueInt(kDeviceCommandCode, 0, kSetControllerInhibit)) {
      LogDownloadFailure("Controller inhibit not active. Download failed.");
      return false;
    }
    m_inhibitSet = true;
  }
  int running = 0;
  if (!ReadCodeValueInt(kRunStatusCode, 0, running)) {
    LogDownloadFailure("Read Codevalue 155 failed.");
    LogDownloadFailure("CheckPrepareDownload failed.");
    return false;
  }
  if ((running & kApplicationRunningBit) != 0) {
    if (!stopApplication) {
      LogDownloadFailure("Application active - not OK.");
      return false;
    }
    if (WriteCodeValueInt(kDeviceCommandCode, 0, kStopApplication)) {
      m_applicationStopped = true;
      return true;
    }
    LogDownloadFailure("Application can not be stopped. Download failed.");
    return false;
  }
  if (!checked) {
    LogDownloadFailure("CheckPrepareDownload failed.");
    return false;
  }
  return true;
}

void CDrive::RestoreAfterStoppedDownload() {
  if (m_applicationStopped) WriteCodeValueInt(kDeviceCommandCode, 0, kAfterDownload31);
  if (m_inhibitSet) WriteCodeValueInt(kDeviceCommandCode, 0, kAfterDownload42);
  m_applicationStopped = false;
  m_inhibitSet = false;
}

void CDrive::AbortDownload() {
  if (!WriteCodeValueInt(kCommandCode, kAbortDownloadSubindex, kAbortDownload)) {
    LogDownloadFailure("Writing code value 514/6 failed. Abort download failed.");
  }
}
