// The fault matrix: every updater against its simulated device, each fault of the simulator at
// the first, a middle and the last unit of its download. One table, each row a test. A row says
// how its device is served and reached: on the emulated bus, as a network unit on loopback,
// behind the remote device server, or through tavrix-usb-bridge (libusb and sysfs). Every cell
// holds the program to its first duty: no crash, no wait past the bound, the cause told, and
// never "succeeded" for firmware the device did not get whole.

#include <chrono>
#include <iostream>
#include <regex>
#include <sstream>
#include <thread>

#include "net/socket_login_dlg.h"
#include "support/cli_end_to_end.h"
#include "support/servo_project.h"

namespace {

using namespace std::chrono_literals;

// How long a transport waits for a device that stopped answering, in the cells that wait for
// it (the USB read bound, shortened; a socket's receive time-out is the program's own 5 s).
constexpr int kStallBoundMs = 500;
constexpr int kBridgeStallBoundMs = 1000;
// In the cells that take the device away, no bound may end the wait first.
constexpr int kUnplugBoundMs = 60000;

struct Cell {
  const char* name;
  // The fault as device options, from the counts of a whole download: `acks` acknowledgements
  // and `bytes` bytes received.
  std::string (*fault)(std::uint64_t acks, std::uint64_t bytes);
  // The device goes away (its server ends) once it has stalled, while the host waits on it.
  bool unplug = false;
};

const Cell kCells[] = {
    {"refused at the first unit", [](std::uint64_t, std::uint64_t) { return std::string("refuse_ack=1"); }},
    {"refused at a middle unit", [](std::uint64_t acks, std::uint64_t) { return "refuse_ack=" + std::to_string((acks + 1) / 2); }},
    {"refused at the last unit", [](std::uint64_t acks, std::uint64_t) { return "refuse_ack=" + std::to_string(acks); }},
    {"link dropped half-way", [](std::uint64_t, std::uint64_t bytes) { return "close_after=" + std::to_string(bytes / 2); }},
    {"device stalls half-way", [](std::uint64_t, std::uint64_t bytes) { return "stall_after=" + std::to_string(bytes / 2); }},
    {"unplugged half-way", [](std::uint64_t, std::uint64_t bytes) { return "stall_after=" + std::to_string(bytes / 2); }, true},
    {"garbage for an answer", [](std::uint64_t acks, std::uint64_t) { return "garble_ack=" + std::to_string((acks + 1) / 2); }},
    {"another identity", [](std::uint64_t, std::uint64_t) { return std::string("identity=\"ZX0000-0X Other 100\""); }},
    // All but the last byte arrived. Where nothing answers that byte, only meeting the device
    // again after its programming shows that it did not take the firmware.
    {"link lost at the last byte", [](std::uint64_t, std::uint64_t bytes) { return "close_after=" + std::to_string(bytes - 1); }},
};

// How a row's device is served and reached.
enum class EReach {
  EmulatedBus,   // tavrix-devsim's device on the emulated bus
  NetworkUnit,   // tavrix-devsim's network unit on loopback, reached with --address
  RemoteServer,  // the device on the bus, reached only through tavrix-devsim's remote device server
  UsbBridge,     // the device on the bus presented to libusb and sysfs by tavrix-usb-bridge, real waits
};

struct Row {
  const char* family;
  CEndToEndEntry entry;
  EReach reach;
  const char* kind;     // tavrix-devsim's kind
  const char* options;  // a device older than the entry
  // The cells this row does not run, each with the reason; the test prints them.
  std::vector<std::pair<std::string, std::string>> notRun = {};
  // The cells where the protocol does not test the answer the fault spoils, each with the
  // reason: the update may end well there, but only with `whole` in the device's record.
  std::vector<std::pair<std::string, std::string>> mayEndWell = {};
  const char* whole = nullptr;
};

// A row is named by its family in test listings.
void PrintTo(const Row& row, std::ostream* out) { *out << row.family; }

using CellNotes = std::vector<std::pair<std::string, std::string>>;

const std::string* NoteFor(const CellNotes& notes, const Cell& cell) {
  auto found = std::find_if(notes.begin(), notes.end(), [&](const auto& note) { return note.first == cell.name; });
  return found == notes.end() ? nullptr : &found->second;
}

const CEndToEndEntry kServo{"ZQ3351-9F", "CUpdaterServo", 0x3351, "servo.seg", 130, "Servo trainer", 110};
const CEndToEndEntry k2A1{"QI-2A1", "CUpdater2A1", 0x7D2A, "quadrel-2a1.seg", 312};
const CEndToEndEntry k1A{"ZQ1184-2B", "CUpdater1A", 0x1184, "interface-1a.seg", 210};
const CEndToEndEntry k1Z{"ZR9046-3C", "CUpdater1Z", 0x9046, "interface-1z.seg", 215};
const CEndToEndEntry kMK{"ZM7310-4K", "CUpdaterMK", 0x4D4B, "interface-mk.hex", 230};
const CEndToEndEntry kATMU{"ZA0815-2T", "CUpdaterATMU", 0xA7B0, "atmu.hex", 312};
const CEndToEndEntry kC28xx{"ZT5503-1D", "CUpdaterC28XX", 0x5503, "c28xx.hex", 214};
const CEndToEndEntry kMotrevo{"AT-MOTREVO", "CUpdaterMotrevo", 0x4C17, "motrevo.srec", 312};

// Through the bridge only the link's own faults are run: the protocol's answers cross every USB
// path alike, and the family's row on the emulated bus holds them.
const CellNotes kBridgeRuns = [] {
  CellNotes notRun;
  for (const Cell& cell : kCells) {
    if (std::string(cell.name) == "device stalls half-way" || cell.unplug) continue;
    notRun.emplace_back(cell.name, "the family's row on the emulated bus holds the protocol's faults");
  }
  return notRun;
}();

// The application download ends with device commands whose answers it does not test, once
// the drive has finished the download.
const CellNotes kServoLastAnswerUntested = {
    {"refused at the last unit",
     "the last frame is a closing device command (2/0 = 42) whose answer the download does not test"}};

const std::vector<Row> kRows = {
    {"2A1", k2A1, EReach::EmulatedBus, "2a", "variant=1,firmware=105"},
    {"2A2", {"QI-2A2", "CUpdater2A2", 0x7D2A, "quadrel-2a2.seg", 312}, EReach::EmulatedBus, "2a", "variant=2,firmware=105"},
    {"2A3", {"QI-2A3", "CUpdater2A3", 0x7D2A, "quadrel-2a3.hex", 405}, EReach::EmulatedBus, "2a", "variant=3,firmware=105"},
    {"2AB", {"QI-2AB", "CUpdater2AB", 0x7D2A, "quadrel-2ab.bin", 120}, EReach::EmulatedBus, "2a", "variant=3,firmware=105"},
    {"1A", k1A, EReach::EmulatedBus, "1a", "firmware=105"},
    {"1Z", k1Z, EReach::EmulatedBus, "1z", "firmware=105"},
    {"MK", kMK, EReach::EmulatedBus, "mk", "firmware=105"},
    {"ATMU", kATMU, EReach::EmulatedBus, "atmu", "firmware=105"},
    {"C28xx", kC28xx, EReach::EmulatedBus, "c28xx", "firmware=105"},
    {"automotive trainer", kMotrevo, EReach::EmulatedBus, "motrevo", "firmware=105"},
    {"5R", {"ZT-4K", "CUpdater5R", 0, "zt7720-4k.hex", 200}, EReach::NetworkUnit, "zt7720", "type=7720,firmware=150"},
    {"5S", {"ZT-4M", "CUpdater5S", 0, "zt7720-4m.hex", 200}, EReach::NetworkUnit, "zt7720", "type=7721,firmware=150"},
    {"servo trainer firmware", kServo, EReach::EmulatedBus, "servo", "firmware=125,application=110"},
    {"servo trainer application", kServo, EReach::EmulatedBus, "servo", "firmware=130,application=100", {},
     kServoLastAnswerUntested, "application 110\n"},
    {"servo trainer via remote device server", kServo, EReach::RemoteServer, "servo", "firmware=130,application=100",
     {}, kServoLastAnswerUntested, "application 110\n"},
    {"2A1 through the bridge", k2A1, EReach::UsbBridge, "2a", "variant=1,firmware=105", kBridgeRuns},
    {"1A through the bridge", k1A, EReach::UsbBridge, "1a", "firmware=105", kBridgeRuns},
    {"1Z through the bridge", k1Z, EReach::UsbBridge, "1z", "firmware=105", kBridgeRuns},
    {"MK through the bridge", kMK, EReach::UsbBridge, "mk", "firmware=105", kBridgeRuns},
    {"ATMU through the bridge", kATMU, EReach::UsbBridge, "atmu", "firmware=105", kBridgeRuns},
    {"C28xx through the bridge", kC28xx, EReach::UsbBridge, "c28xx", "firmware=105", kBridgeRuns},
    {"automotive trainer through the bridge", kMotrevo, EReach::UsbBridge, "motrevo", "firmware=105", kBridgeRuns},
    {"servo trainer through the bridge", kServo, EReach::UsbBridge, "servo", "firmware=125,application=110", kBridgeRuns},
};

class FaultMatrixTest : public CliEndToEndTest, public ::testing::WithParamInterface<Row> {
 protected:
  // The counts the device noted at the end of its last connection: acknowledgements and bytes
  // received over its life. Each connection notes them as it ends, so they are read once every
  // connection has.
  std::pair<std::uint64_t, std::uint64_t> Counts() const {
    static const std::regex kCounts(R"(counts: (\d+) acknowledgement\(s\), (\d+) byte\(s\) received)");
    static const std::regex kConnect(R"(#\d+\s+connect\n)");
    std::pair<std::uint64_t, std::uint64_t> counts{0, 0};
    Eventually([&] {
      const std::string text = Transcript();
      std::ptrdiff_t ended = 0;
      for (auto it = std::sregex_iterator(text.begin(), text.end(), kCounts); it != std::sregex_iterator(); ++it) {
        counts = {std::stoull((*it)[1]), std::stoull((*it)[2])};
        ++ended;
      }
      return ended > 0 && ended == std::distance(std::sregex_iterator(text.begin(), text.end(), kConnect),
                                                 std::sregex_iterator());
    });
    return counts;
  }

  // tavrix-devsim serving the row's device with `faults` the way the row reaches it (on the bus
  // for the bridge too); true once it serves.
  bool Serve(const Row& row, const std::string& faults) {
    const std::string options = std::string(row.options) + (faults.empty() ? "" : "," + faults);
    switch (row.reach) {
      case EReach::EmulatedBus:
      case EReach::UsbBridge:
        return Plug(row.kind, options);
      case EReach::NetworkUnit:
        return ServeWithLine({"--net-unit", std::string(row.kind) + ":port=0," + options}, "serving network unit");
      case EReach::RemoteServer:
        return ServeWithLine({"--bus", Bus(), "--remote-server", "127.0.0.1:0", "--device",
                              std::string(row.kind) + ":record=" + RecordPath() + "," + options},
                             "serving remote device server") &&
               m_devsim->FirstLine().has_value();
    }
    return false;
  }

  // tavrix-devsim with `args`, its transcripts and no device waits; its first line must begin
  // with `first`, and the port it names ends it.
  bool ServeWithLine(std::vector<std::string> args, const std::string& first) {
    m_devsim.reset();
    std::filesystem::remove_all(m_folder.Path() / "transcripts");
    std::filesystem::create_directories(m_folder.Path() / "transcripts");
    args.insert(args.begin(), {"--wait-scale", "0", "--transcript", m_folder / "transcripts"});
    m_devsim = std::make_unique<CDevSim>(args);
    const std::optional<std::string> line = m_devsim->FirstLine();
    if (!line || line->rfind(first, 0) != 0) return false;
    static const std::regex kPort(R"(:(\d+)\)?$)");
    std::smatch port;
    if (!std::regex_search(*line, port, kPort)) return false;
    m_port = port[1];
    if (GetParam().reach == EReach::RemoteServer) {
      m_folder.Write("config/Tavrix/Device Manager.ini",
                     "[ZQ3351-9F]\nAddress=127.0.0.1\nPort=" + m_port + "\nName=Tavrix Kinetra\nEnabled=1\n");
    }
    return true;
  }

  // The update as the row reaches its device, with a wire trace and the read bound `boundMs`.
  // `options` follow the Id.
  Run UpdateWithTrace(const Row& row, const std::string& trace, int boundMs, const std::string& options = "") {
    const std::string cli = TAVRIX_BIN_DIR "/tavrix-update-cli --catalog '" + m_catalog +
                            "' --lang 1033 --yes --on-failure exit --trace '" + trace + "' update '" + row.entry.Id +
                            "' " + options;
    // TAVRIX_USB_BUS makes the setup a simulated one: the program's waits are scaled to nothing.
    const std::string simulated = "TAVRIX_WAIT_SCALE=0 TAVRIX_USB_READ_BOUND=" + std::to_string(boundMs);
    std::string command;
    switch (row.reach) {
      case EReach::EmulatedBus:
        command = "TAVRIX_USB_BUS='" + Bus() + "' " + simulated + " " + cli;
        break;
      case EReach::NetworkUnit:
        command = "TAVRIX_USB_BUS='" + Bus() + "' " + simulated + " " + cli + " --address 127.0.0.1:" + m_port;
        break;
      case EReach::RemoteServer:
        // No bus for the program: the trainer is reached only through the server.
        command = "XDG_CONFIG_HOME='" + (m_folder / "config") + "' TAVRIX_USB_BUS='" + (m_folder / "no-bus") + "' " +
                  simulated + " " + cli;
        break;
      case EReach::UsbBridge:
        // Without TAVRIX_USB_BUS the program's waits are real; the bound holds under the testbed.
        command = "TAVRIX_USB_READ_BOUND=" + std::to_string(boundMs) + " " TAVRIX_BIN_DIR "/tavrix-usb-bridge '" + Bus() +
                  "' -- " + cli;
        break;
    }
    Run run;
    run.output = RunProgram(command + " 2>&1 </dev/null", run.status);
    run.status = WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -1;
    return run;
  }

  // The update while the device is taken away once it has stalled.
  Run UpdateAndUnplug(const Row& row, const std::string& trace) {
    Run run;
    std::thread update([&] { run = UpdateWithTrace(row, trace, kUnplugBoundMs); });
    const bool stalled = Eventually([this] { return Transcript().find("stalled after") != std::string::npos; });
    m_devsim.reset();  // its sockets go, and with them the device, the unit or the server
    update.join();
    EXPECT_TRUE(stalled) << "the device never came to the fault\n" << run.output;
    return run;
  }

  // One cell: the device with the fault, the update, and what it must hold to.
  void RunCell(const Row& row, const Cell& cell, const std::string& fault) {
    SCOPED_TRACE(std::string(row.family) + ", " + cell.name + " (" + fault + ")");
    ASSERT_TRUE(Serve(row, fault));
    const std::string trace = m_folder / "trace";
    std::filesystem::remove(trace);
    const int bound = row.reach == EReach::UsbBridge ? kBridgeStallBoundMs : kStallBoundMs;
    const auto start = std::chrono::steady_clock::now();
    Run run = cell.unplug ? UpdateAndUnplug(row, trace) : UpdateWithTrace(row, trace, bound);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 15s) << "waited past the bound";
    EXPECT_TRUE(run.status == 0 || run.status == 1 || run.status == 3) << "crashed? status " << run.status << "\n"
                                                                        << run.output;
    if (const std::string* why = NoteFor(row.mayEndWell, cell); why != nullptr && run.status == 0) {
      // "Succeeded" only for a device that has its download whole.
      std::cout << "[ ENDS WELL] " << row.family << ", " << cell.name << ": " << *why << std::endl;
      EXPECT_TRUE(Shows(run, Text(37))) << run.output;
      EXPECT_TRUE(Eventually([&] { return Record().find(row.whole) != std::string::npos; })) << Record();
    } else {
      // Never "succeeded" for firmware the device did not get whole.
      EXPECT_FALSE(Shows(run, Text(37))) << run.output << "\ndevice record: " << Record().substr(0, 400);
      EXPECT_TRUE(run.status == 1 || run.status == 3) << run.output;
      EXPECT_NE(FirstCauseLine(run), "") << run.output;
    }
    // The wire trace shows how far it came.
    EXPECT_FALSE(ReadWholeFile(trace).empty());
    std::cout << "[ CELL     ] " << row.family << ", " << cell.name << ": exit " << run.status << ", "
              << (run.status == 0 ? Text(37) : FirstCauseLine(run)) << std::endl;
  }

  // The cause the person was told, empty when none: the first message of the program's own, of
  // the "Interface" or "Server Login" dialog when no device could be connected, or the first
  // entry of the download log the servo trainer's drive download keeps.
  static std::string FirstCauseLine(const Run& run) {
    const std::string log = "tavrix-update-cli: " + Text(41005) + ":";
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
      if (line == log && std::getline(lines, line) && !line.empty()) return Text(41005) + ": " + line;
      if (line.rfind(ApplicationName() + ": ", 0) == 0) return line;
      if (run.status == 3 && (line.rfind("Interface: ", 0) == 0 || line.rfind(CSocketLoginDlg(false, true).Text(0) + ": ", 0) == 0)) {
        return line;
      }
    }
    return "";
  }

  std::string m_port;  // of the network unit or the remote device server
};

// Each row of the table is a test of its own, so that they run side by side.
TEST_P(FaultMatrixTest, HoldsInEveryCell) {
  const Row& row = GetParam();
  if (row.reach == EReach::UsbBridge && !BridgeUsable()) {
    GTEST_SKIP() << "umockdev's preload library is missing (scripts/setup.sh installs it)";
  }
  WriteCatalog({row.entry});
  if (row.entry.ApplicationVersion != 0) WriteServoProject(m_folder, row.entry.ApplicationVersion);
  // A whole download first, on the emulated bus for the bridge's rows: its counts place the
  // faults. Without the check after it, so that they count the download alone.
  const Row counted = row.reach == EReach::UsbBridge ? Row{row.family, row.entry, EReach::EmulatedBus, row.kind, row.options}
                                                     : row;
  ASSERT_TRUE(Serve(counted, ""));
  Run clean = UpdateWithTrace(counted, m_folder / "clean-trace", kStallBoundMs, "--no-verify");
  ASSERT_EQ(clean.status, 0) << clean.output;
  ASSERT_TRUE(Shows(clean, Text(37))) << clean.output;
  const auto [acks, bytes] = Counts();
  ASSERT_GT(bytes, 0u);
  for (const Cell& cell : kCells) {
    if (const std::string* why = NoteFor(row.notRun, cell)) {
      std::cout << "[ NOT RUN  ] " << row.family << ", " << cell.name << ": " << *why << std::endl;
      continue;
    }
    RunCell(row, cell, cell.fault(acks, bytes));
  }
}

INSTANTIATE_TEST_SUITE_P(EveryUpdater, FaultMatrixTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& row) {
                           std::string name = row.param.family;
                           std::replace(name.begin(), name.end(), ' ', '_');
                           return name;
                         });

}  // namespace
