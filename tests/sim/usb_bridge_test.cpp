// tavrix-usb-bridge: the program's real USB path (libusb, the sysfs device tree, eject by
// `authorized` or by a port reset) against simulated devices that the bridge presents as
// kernel USB devices in a umockdev testbed. The program runs without TAVRIX_USB_BUS, so its
// own waits are real (the bus cannot scale them): the tests use the small demo images.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/string_table.h"
#include "platform/text_format.h"
#include "sim/demo_firmware.h"
#include "devices/2a/catalog_2a.h"
#include "support/devsim_process.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace {

using namespace std::chrono_literals;

constexpr char kFirstGenerationDevice[] = "usb#vid_7a3c&pid_7d2a#1-1#{0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4}";

// The 2A family: each updater, the device variant it wants and the download it makes.
using Entry = C2ATestEntry;
constexpr const auto& kEntries = k2ATestEntries;

bool PreloadInstalled() {
  int status = -1;
  RunProgram("ldconfig -p | grep -q libumockdev-preload.so.0", status);
  return status == 0;
}

class UsbBridgeTest : public ::testing::Test {
 protected:
  struct Run {
    std::string output;  // standard output and error of the bridge and the program
    int status = -1;
    std::chrono::milliseconds took{0};
  };

  void SetUp() override {
    if (!PreloadInstalled()) GTEST_SKIP() << "umockdev's preload library is missing (scripts/setup.sh installs it)";
    SetUiLanguage(LANG_ENGLISH);
    m_catalog = Write2ATestCatalog(m_folder);
    std::filesystem::create_directories(m_folder.Path() / "bus");
    std::filesystem::create_directories(m_folder.Path() / "transcripts");
  }

  std::string Bus() const { return m_folder / "bus"; }
  std::string RecordPath() const { return m_folder / "device.record"; }
  std::string TracePath() const { return m_folder / "wire.trace"; }
  // The transport's read (20009) or write (20010) failed; the update ended on it.
  bool TransferFailed(const char* direction) const {
    return ReadWholeFile(TracePath()).find(std::string(direction) + " error") != std::string::npos;
  }

  // tavrix-devsim serving `devices` on the bus; true once it serves.
  bool Plug(const std::vector<std::string>& devices) {
    std::vector<std::string> args{"--bus", Bus(), "--wait-scale", "0", "--transcript", m_folder / "transcripts"};
    for (const auto& device : devices) {
      args.push_back("--device");
      args.push_back(device);
    }
    m_devsim = std::make_unique<CDevSim>(args);
    return m_devsim->FirstLine().has_value();
  }
  bool Plug2A(const std::string& options) { return Plug({"2a:record=" + RecordPath() + "," + options}); }

  // The bridge running the terminal front end with `arguments`.
  Run Bridge(const std::string& arguments, const std::string& environment = "",
             const std::string& bridgeOptions = "") {
    std::string command = environment + " " TAVRIX_BIN_DIR "/tavrix-usb-bridge " + bridgeOptions + " '" + Bus() +
                          "' -- " TAVRIX_BIN_DIR "/tavrix-update-cli --catalog '" + m_catalog +
                          "' --lang 1033 " + arguments + " 2>&1";
    Run run;
    auto start = std::chrono::steady_clock::now();
    run.output = RunProgram(command, run.status);
    run.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    run.status = WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -1;
    return run;
  }
  Run Update(const std::string& id, const std::string& environment = "", const std::string& bridgeOptions = "") {
    return Bridge("--yes --on-failure exit --trace '" + TracePath() + "' update " + id, environment, bridgeOptions);
  }

  std::string Transcript() const {
    std::string text;
    for (const auto& file : std::filesystem::directory_iterator(m_folder.Path() / "transcripts")) {
      text += ReadWholeFile(file.path());
    }
    return text;
  }
  static bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds within = 10s) {
    auto deadline = std::chrono::steady_clock::now() + within;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }
  bool DownloadEnded() const {
    return Eventually([this] { return ReadWholeFile(RecordPath()).find("\nend ") != std::string::npos; });
  }
  // How often the bridge enumerated the device on port 1.
  static std::size_t Appearances(const std::string& output) {
    std::size_t count = 0;
    for (auto at = output.find(" is 1-1 at "); at != std::string::npos; at = output.find(" is 1-1 at ", at + 1)) ++count;
    return count;
  }
  static bool Shows(const Run& run, int id) { return run.output.find(LoadResString(id)) != std::string::npos; }

  CTempFolder m_folder;
  std::string m_catalog;
  std::unique_ptr<CDevSim> m_devsim;
};

TEST_F(UsbBridgeTest, ListsDevicesOfBothDriverGenerationsWithTheirNames) {
  ASSERT_TRUE(Plug({"2a:serial=A1", "scripted:pid=0x9c21,gen=2,serial=B2,name=\"Tavrix Second Unit\"",
                    "scripted:pid=0x9c22,gen=2,serial=C3,name=\"Another Maker's Box\""}));
  Run run = Bridge("devices");
  EXPECT_EQ(run.status, 0) << run.output;
  // Ports follow the sockets' order; the device of another maker is not served.
  EXPECT_NE(run.output.find("Tavrix Quadrel Interface\t" + std::string(kFirstGenerationDevice)), std::string::npos)
      << run.output;
  // On the libusb path too a device's id is the serial sysfs shows for it.
  EXPECT_NE(run.output.find("B2\t-\tTavrix Second Unit\tusb#vid_7a3c&pid_9c21#1-2#{5b1e2c47-9d03-4a6f-8e21-3c7d90b4f152}"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.find("pid_9c22#1-3#"), std::string::npos) << run.output;
}

TEST_F(UsbBridgeTest, DevicesPluggedAndUnpluggedWhileTheCommandRunsComeAndGo) {
  // The command waits for the device to be listed, then for it to be gone; the bridge ends
  // with its status.
  std::string list = TAVRIX_BIN_DIR "/tavrix-update-cli devices | grep -q pid_7d2a";
  std::string script = "for i in $(seq 200); do " + list + " && break; sleep 0.05; done; " + list +
                       " || exit 7; touch '" + (m_folder / "seen") + "'; for i in $(seq 200); do " + list +
                       " || exit 0; sleep 0.05; done; exit 8";
  std::string file = m_folder.Write("wait-for-device.sh", script + "\n");
  int status = -1;
  std::thread bridge([&] { RunProgram(TAVRIX_BIN_DIR "/tavrix-usb-bridge '" + Bus() + "' -- sh '" + file + "' 2>&1", status); });
  std::this_thread::sleep_for(300ms);
  bool plugged = Plug2A("variant=1");
  bool seen = Eventually([this] { return std::filesystem::exists(m_folder / "seen"); });
  m_devsim.reset();
  bridge.join();
  EXPECT_TRUE(plugged);
  EXPECT_TRUE(seen);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(UsbBridgeTest, AnswersSplitByEmptyPacketsReachTheHostWhole) {
  // The identity comes as three packets with two empty ones between them: each empty packet
  // ends an IN transfer with no bytes, and the host reads on.
  ASSERT_TRUE(Plug({"scripted:pid=0x7d2a,gen=1,name=\"Tavrix Quadrel Interface\","
                    "rule=02>'ZR6618-7D'||' Quadrel'||' 105'00,rule=0B>01"}));
  Run run = Update("QI-2A1", "TAVRIX_USB_READ_BOUND=500");
  EXPECT_NE(run.output.find("firmware 1.05 on the device"), std::string::npos) << run.output;
  std::string trace = ReadWholeFile(TracePath());
  EXPECT_NE(trace.find("IN   0 \n"), std::string::npos) << trace;
}

TEST_F(UsbBridgeTest, EachUpdaterProgramsItsImageThroughLibusb) {
  for (const Entry& entry : kEntries) {
    SCOPED_TRACE(entry.className);
    std::filesystem::remove(RecordPath());
    std::filesystem::remove_all(m_folder.Path() / "transcripts");
    std::filesystem::create_directories(m_folder.Path() / "transcripts");
    ASSERT_TRUE(Plug2A(std::string("variant=") + entry.variant + ",firmware=105"));

    Run run = Update(entry.id);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Shows(run, 37)) << run.output;
    ASSERT_TRUE(DownloadEnded());
    std::string record = ReadWholeFile(RecordPath());
    std::string download = entry.download;
    EXPECT_EQ(record.rfind("download " + download + "\n" + download + " 0x", 0), 0u) << record;
    EXPECT_EQ(record.substr(record.size() - 13), "end complete\n") << record;
    // The segment download resets the device through `authorized`: it leaves the bus and is
    // enumerated anew on its port, under a new device number.
    if (download == "segment") {
      EXPECT_TRUE(Eventually([this] { return Transcript().find(" back") != std::string::npos; })) << Transcript();
      EXPECT_NE(run.output.find(" ejected (authorized 0, 1)"), std::string::npos) << run.output;
      EXPECT_EQ(Appearances(run.output), 2u) << run.output;
      EXPECT_NE(run.output.find(" is 1-1 at /dev/bus/usb/001/003"), std::string::npos) << run.output;
    } else {
      EXPECT_EQ(Appearances(run.output), 1u) << run.output;
    }
    m_devsim.reset();
  }
}

// Two identical 2A1 interfaces through libusb and sysfs: --all updates both at once, each
// worker resetting only its own device and finding it again by the serial number sysfs shows.
TEST_F(UsbBridgeTest, AllUpdatesIdenticalInterfacesEachFoundAgainByItsSerialNumber) {
  const std::string records[] = {m_folder / "A1.record", m_folder / "A2.record"};
  ASSERT_TRUE(Plug({"2a:serial=A1,variant=1,firmware=105,record=" + records[0],
                    "2a:serial=A2,variant=1,firmware=105,record=" + records[1]}));
  ASSERT_TRUE(m_devsim->FirstLine().has_value()) << "the second device";
  Run run = Bridge("--yes --on-failure exit update QI-2A1 --all");
  EXPECT_EQ(run.status, 0) << run.output;
  for (const std::string& record : records) {
    EXPECT_TRUE(Eventually([&] { return ReadWholeFile(record).ends_with("end complete\n"); })) << record;
  }
  for (const char* row : {"A1               1.05 -> 3.12   programmed", "A2               1.05 -> 3.12   programmed"}) {
    EXPECT_NE(run.output.find(row), std::string::npos) << run.output;
  }
}

TEST_F(UsbBridgeTest, WithoutRightsToAuthorizedTheEjectIsAPortReset) {
  ASSERT_TRUE(Plug2A("variant=1,firmware=105"));
  Run run = Update("QI-2A1", "", "--fixed-authorized");
  EXPECT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(DownloadEnded());
  EXPECT_NE(ReadWholeFile(RecordPath()).find("end complete\n"), std::string::npos);
  EXPECT_TRUE(Eventually([this] { return Transcript().find(" back") != std::string::npos; })) << Transcript();
  EXPECT_EQ(Appearances(run.output), 2u) << run.output;
  EXPECT_NE(run.output.find(" ejected (port reset)"), std::string::npos) << run.output;
}

TEST_F(UsbBridgeTest, ADeviceThatStopsAnsweringFailsWithinTheReadBound) {
  ASSERT_TRUE(Plug2A("variant=3,firmware=105,stall_after=600"));
  Run run = Update("QI-2A3", "TAVRIX_USB_READ_BOUND=1500");
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_TRUE(TransferFailed("read")) << ReadWholeFile(TracePath());
  EXPECT_TRUE(Shows(run, 38)) << run.output;
  // libusb's time-out and discard ran: one bound and the program's own start, not a hang.
  EXPECT_LT(run.took, 15s) << run.output;
  EXPECT_TRUE(DownloadEnded());
  EXPECT_EQ(ReadWholeFile(RecordPath()), "download block\nend incomplete\n");
}

TEST_F(UsbBridgeTest, ADeviceUnpluggedInMidTransferFailsAtOnce) {
  ASSERT_TRUE(Plug2A("variant=3,firmware=105,stall_after=600"));
  Run run;
  std::thread update([&] { run = Update("QI-2A3", "TAVRIX_USB_READ_BOUND=60000"); });
  bool stalled = Eventually([this] { return Transcript().find("stalled") != std::string::npos; }, 30s);
  auto unplugged = std::chrono::steady_clock::now();
  m_devsim.reset();  // its sockets go: the bridge removes the device while the host reads
  update.join();
  ASSERT_TRUE(stalled);
  EXPECT_EQ(run.status, 1) << run.output;
  // The host may still be writing the block the device stopped reading, or already waiting
  // for its acknowledgement.
  EXPECT_TRUE(TransferFailed("read") || TransferFailed("write")) << ReadWholeFile(TracePath());
  EXPECT_LT(std::chrono::steady_clock::now() - unplugged, 10s) << run.output;
}

}  // namespace
