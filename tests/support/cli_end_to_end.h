#pragma once
// End to end for the device families: tavrix-update-cli against one device served by
// tavrix-devsim, either on the emulated bus with no waits or through tavrix-usb-bridge with the
// program's real USB path and real waits. The device keeps its record in a file the tests read.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"
#include "sim/demo_firmware.h"
#include "support/bad_firmware.h"
#include "support/devsim_process.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

// One Device of the test's catalog.
struct CEndToEndEntry {
  const char* Id;
  const char* ClassName;
  std::uint16_t UsbPid;
  const char* File;  // in the catalog's firmware folder
  std::uint16_t Version;
  const char* Name = "Interface";
  std::uint16_t ApplicationVersion = 0;  // 0: the entry has no application
};

class CliEndToEndTest : public ::testing::Test {
 protected:
  struct Run {
    std::string output;  // standard output and error
    int status = -1;
  };

  CliEndToEndTest() {
    SetUiLanguage(LANG_ENGLISH);
    std::filesystem::create_directories(m_folder.Path() / "bus");
  }

  // The catalog of `entries`, each with its demo firmware.
  void WriteCatalog(const std::vector<CEndToEndEntry>& entries) {
    std::string xml = "<Config><Devices>";
    for (const CEndToEndEntry& entry : entries) {
      xml += FormatText("<Device Id=\"%s\" RTC=\"%s\" USBPID=\"0x%04X\"><Name>%s</Name><Firmware>"
                        "<Version>%u</Version><File>firmware\\%s</File></Firmware>",
                        entry.Id, entry.ClassName, entry.UsbPid, entry.Name, entry.Version, entry.File);
      if (entry.ApplicationVersion != 0) {
        xml += FormatText("<Application><Version>%u</Version></Application>", entry.ApplicationVersion);
      }
      xml += "</Device>";
      WriteDemoFirmware(entry.ClassName, entry.Version, FirmwarePath(entry));
    }
    m_catalog = m_folder.Write("tavrix-update.config", xml + "</Devices></Config>");
  }
  std::string FirmwarePath(const CEndToEndEntry& entry) const {
    return (m_folder.Path() / "firmware" / entry.File).string();
  }
  void WriteFirmware(const CEndToEndEntry& entry, const std::string& bytes) const {
    std::ofstream(FirmwarePath(entry), std::ios::binary | std::ios::trunc) << bytes;
  }

  // `count` erased bytes as the record writes them.
  static std::string ErasedHex(std::size_t count) { return std::string(2 * count, 'F'); }

  std::string Bus() const { return m_folder / "bus"; }
  std::string RecordPath() const { return m_folder / "device.record"; }
  std::string Record() const { return ReadWholeFile(RecordPath()); }

  // tavrix-devsim serving one device "KIND:OPTIONS" that keeps its record; true once it
  // serves. An earlier one stops first, and the record and transcripts start empty.
  bool Plug(const std::string& kind, const std::string& options) {
    m_devsim.reset();
    std::filesystem::remove(RecordPath());
    std::filesystem::remove_all(m_folder.Path() / "transcripts");
    std::filesystem::create_directories(m_folder.Path() / "transcripts");
    std::string device = kind + ":record=" + RecordPath() + (options.empty() ? "" : "," + options);
    m_devsim = std::make_unique<CDevSim>(std::vector<std::string>{
        "--bus", Bus(), "--wait-scale", "0", "--transcript", m_folder / "transcripts", "--device", device});
    return m_devsim->FirstLine().has_value();
  }

  // tavrix-devsim serving a device of `kind` for each "SERIAL:OPTIONS", each keeping the record
  // RecordOf(SERIAL), with the device waits scaled by `waitScale`; true once all of them serve.
  bool PlugMany(const std::string& kind, const std::vector<std::string>& devices, const std::string& waitScale = "0") {
    m_devsim.reset();
    std::filesystem::remove_all(m_folder.Path() / "transcripts");
    std::filesystem::create_directories(m_folder.Path() / "transcripts");
    std::vector<std::string> args{"--bus", Bus(), "--wait-scale", waitScale, "--transcript", m_folder / "transcripts"};
    for (const auto& device : devices) {
      std::string serial = device.substr(0, device.find(':'));
      std::string options = device.substr(device.find(':') + 1);
      std::filesystem::remove(RecordOf(serial));
      args.insert(args.end(), {"--device", kind + ":serial=" + serial + ",record=" + RecordOf(serial) + "," + options});
    }
    m_devsim = std::make_unique<CDevSim>(args);
    for (std::size_t i = 0; i < devices.size(); ++i) {
      if (!m_devsim->FirstLine()) return false;
    }
    return true;
  }
  std::string RecordOf(const std::string& serial) const { return m_folder / (serial + ".record"); }
  // What the transcript of the device with this serial holds below its heading line.
  std::string TranscriptOf(const std::string& serial) const {
    for (const auto& file : std::filesystem::directory_iterator(m_folder.Path() / "transcripts")) {
      std::string text = ReadWholeFile(file.path());
      std::string heading = text.substr(0, text.find('\n') + 1);
      if (heading.find("#" + serial + "#") != std::string::npos) return text.substr(heading.size());
    }
    return "no transcript";
  }

  // `tavrix-update-cli ARGUMENTS` on the emulated bus with the test's catalog, English, --yes,
  // --on-failure exit and device waits scaled to nothing; `errors` says where standard error
  // goes ("2>&1" into the output).
  Run Cli(const std::string& arguments, const std::string& errors = "2>&1") {
    return Execute(CliCommand(arguments, errors));
  }
  // Its command line, for a test that runs it in another way (inside a network namespace).
  // Nothing is ever read from the test's own input.
  std::string CliCommand(const std::string& arguments, const std::string& errors = "2>&1") const {
    return "TAVRIX_USB_BUS='" + Bus() + "' TAVRIX_WAIT_SCALE=0 " TAVRIX_BIN_DIR "/tavrix-update-cli --catalog '" +
           m_catalog + "' --lang 1033 --yes --on-failure exit " + arguments + " " + errors + " </dev/null";
  }
  // Runs a shell command line: its output and its exit status (-1 when a signal ended it).
  static Run Execute(const std::string& command) {
    Run run;
    run.output = RunProgram(command, run.status);
    run.status = WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -1;
    return run;
  }

  // `tavrix-update-cli ARGUMENTS` started in a session of its own, as a terminal would run it:
  // SIGINT, SIGTERM, SIGHUP and SIGPIPE at their defaults (a background job ignores SIGINT, the
  // tests SIGPIPE). Its output goes to `out`, then "exit N". The id of its process group.
  std::string StartCli(const std::string& arguments, const std::string& out) {
    std::string script = "trap '' INT TERM HUP\nTAVRIX_USB_BUS='" + Bus() +
                         "' env --default-signal=INT,TERM,HUP,PIPE " TAVRIX_BIN_DIR "/tavrix-update-cli --catalog '" +
                         m_catalog + "' --lang 1033 " + arguments + " > '" + out + "' 2>&1 </dev/null\necho \"exit $?\" >> '" +
                         out + "'\n";
    std::string file = m_folder.Write("start-cli.sh", script);
    int status = -1;
    std::string group = RunProgram("setsid sh '" + file + "' >/dev/null 2>&1 & echo $!", status);
    group.erase(group.find_last_not_of('\n') + 1);
    return group;
  }
  // What the program StartCli started into OutPath() has written so far, and whether `text`
  // shows there (within Eventually's bound).
  std::string OutPath() const { return m_folder / "out"; }
  std::string Out() const { return ReadWholeFile(OutPath()); }
  bool Shown(const std::string& text) const {
    return Eventually([&] { return Out().find(text) != std::string::npos; });
  }
  // Sends the signal `name` (INT, TERM, ...) to a process group.
  static void Signal(const std::string& group, const std::string& name) {
    int status = -1;
    RunProgram("/bin/kill -s " + name + " -- -" + group, status);
    EXPECT_EQ(status, 0) << "kill " << name << " " << group;
  }
  // Stops programming as a person or the system does: `signals` in turn to `group` (a first
  // Ctrl+C is answered by the warning before the next goes), then the program must end with
  // `exit` ("exit 143"), having told why (23760) and never "succeeded".
  void StopProgramming(const std::string& group, const std::vector<std::string>& signals, const std::string& exit) {
    for (const std::string& name : signals) {
      Signal(group, name);
      if (name == "INT" && signals.size() > 1) {
        ASSERT_TRUE(Shown(Text(23761))) << Out();
      }
    }
    ASSERT_TRUE(Shown("exit ")) << Out();
    EXPECT_TRUE(Shown(exit)) << Out();
    EXPECT_TRUE(Shown(Text(23760))) << Out();
    EXPECT_EQ(Out().find(Text(37)), std::string::npos) << Out();
  }

  // `tavrix-update-cli update ID` on the emulated bus, device waits scaled to nothing.
  Run Update(const std::string& id) {
    return RunCli("TAVRIX_USB_BUS='" + Bus() + "' TAVRIX_WAIT_SCALE=0 " TAVRIX_BIN_DIR "/tavrix-update-cli", id);
  }
  // The update without the check after programming (--no-verify): for images made by hand,
  // which carry no version for the device to report.
  Run UpdateUnchecked(const std::string& id) { return Cli("update '" + id + "' --no-verify"); }
  // The same through tavrix-usb-bridge: libusb and the sysfs device tree, real waits.
  Run UpdateThroughBridge(const std::string& id) {
    return RunCli(TAVRIX_BIN_DIR "/tavrix-usb-bridge '" + Bus() + "' -- " TAVRIX_BIN_DIR "/tavrix-update-cli", id);
  }
  static bool BridgeUsable() {
    int status = -1;
    RunProgram("ldconfig -p | grep -q libumockdev-preload.so.0", status);
    return status == 0;
  }

  std::string Transcript() const {
    std::string text;
    for (const auto& file : std::filesystem::directory_iterator(m_folder.Path() / "transcripts")) {
      text += ReadWholeFile(file.path());
    }
    return text;
  }

  // Waits (10 s at most) until `done` holds: the device's thread may still be writing when the
  // host program has ended.
  static bool Eventually(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }
  bool DownloadEnded() const {
    return Eventually([this] { return Record().find("\nend ") != std::string::npos; });
  }
  // The record once the download has ended (or Eventually's bound has passed).
  std::string EndedRecord() const {
    DownloadEnded();
    return Record();
  }
  // The device thread notes an eject shortly after the host asked for it; a test that expects
  // one waits for it, one that expects none looks once the host program has ended.
  bool Ejected() const { return Transcript().find(" eject") != std::string::npos; }
  bool BackAfterEject() const {
    return Eventually([this] { return Transcript().find(" back") != std::string::npos; });
  }

  static std::string Text(int id) { return LoadResString(id); }
  static bool Shows(const Run& run, const std::string& text) { return run.output.find(text) != std::string::npos; }
  // How often `text` was printed (a cause is told once, whoever tells it).
  static std::size_t TimesShown(const Run& run, const std::string& text) {
    std::size_t count = 0;
    for (std::size_t at = run.output.find(text); at != std::string::npos; at = run.output.find(text, at + 1)) ++count;
    return count;
  }
  // The line a device-link failure prints on standard error: the program's name and its text.
  static std::string CauseLine(int messageId) { return ApplicationName() + ": " + Text(messageId) + "\n"; }
  static std::string UpToDate(std::uint16_t version) {
    return FormatText(Text(40).c_str(), version / 100, version % 100);
  }

  // Updates `id` once for each bad firmware file at `firmware`: each fails at once, named, and
  // the device, plugged anew by `plug`, never hears a download begin.
  void ExpectNeverDownloaded(const std::string& id, const std::string& firmware, const std::function<bool()>& plug,
                             const std::vector<CBadFirmware>& cases) {
    for (const CBadFirmware& bad : cases) {
      SCOPED_TRACE(bad.name);
      std::filesystem::remove(firmware);
      bad.make(firmware);
      ASSERT_TRUE(plug());
      const auto start = std::chrono::steady_clock::now();
      Run run = Update(id);
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
      EXPECT_EQ(run.status, 1) << run.output;
      EXPECT_TRUE(Shows(run, firmware)) << run.output;
      EXPECT_TRUE(Shows(run, bad.shown)) << run.output;
      EXPECT_TRUE(Shows(run, Text(38))) << run.output;
      EXPECT_FALSE(Shows(run, Text(37))) << run.output;
      EXPECT_EQ(Record(), "");
    }
  }

  CTempFolder m_folder;
  std::string m_catalog;
  std::unique_ptr<CDevSim> m_devsim;

 private:
  Run RunCli(const std::string& program, const std::string& id) {
    return Execute(program + " --catalog '" + m_catalog + "' --lang 1033 --yes --on-failure exit update '" + id + "' 2>&1");
  }
};
