// The fault matrix: every updater against its simulated device, each fault of the simulator at
// the first, a middle and the last unit of its download. One table, each row a test. Every cell holds
// the program to its first duty: no crash, no wait past the bound, the cause told, and never
// "succeeded" for firmware the device did not get whole.

#include <chrono>
#include <regex>

#include "support/cli_end_to_end.h"

namespace {

using namespace std::chrono_literals;

struct Cell {
  const char* name;
  // The fault as device options, from the counts of a whole download: `acks` acknowledgements
  // and `bytes` bytes received.
  std::string (*fault)(std::uint64_t acks, std::uint64_t bytes);
};

const Cell kCells[] = {
    {"refused at the first unit", [](std::uint64_t, std::uint64_t) { return std::string("refuse_ack=1"); }},
    {"refused at a middle unit", [](std::uint64_t acks, std::uint64_t) { return "refuse_ack=" + std::to_string((acks + 1) / 2); }},
    {"refused at the last unit", [](std::uint64_t acks, std::uint64_t) { return "refuse_ack=" + std::to_string(acks); }},
    {"link dropped half-way", [](std::uint64_t, std::uint64_t bytes) { return "close_after=" + std::to_string(bytes / 2); }},
    {"device stalls half-way", [](std::uint64_t, std::uint64_t bytes) { return "stall_after=" + std::to_string(bytes / 2); }},
    {"garbage for an answer", [](std::uint64_t acks, std::uint64_t) { return "garble_ack=" + std::to_string((acks + 1) / 2); }},
    {"another identity", [](std::uint64_t, std::uint64_t) { return std::string("identity=\"ZX0000-0X Other 100\""); }},
};

struct Row {
  const char* family;
  CEndToEndEntry entry;
  const char* kind;     // tavrix-devsim's kind
  const char* options;  // a device older than the entry
};

const Row kRows[] = {
    {"2A1", {"QI-2A1", "CUpdater2A1", 0x7D2A, "quadrel-2a1.seg", 312}, "2a", "variant=1,firmware=105"},
    {"2A2", {"QI-2A2", "CUpdater2A2", 0x7D2A, "quadrel-2a2.seg", 312}, "2a", "variant=2,firmware=105"},
    {"2A3", {"QI-2A3", "CUpdater2A3", 0x7D2A, "quadrel-2a3.hex", 405}, "2a", "variant=3,firmware=105"},
    {"2AB", {"QI-2AB", "CUpdater2AB", 0x7D2A, "quadrel-2ab.bin", 120}, "2a", "variant=3,firmware=105"},
    {"1A", {"ZQ1184-2B", "CUpdater1A", 0x1184, "interface-1a.seg", 210}, "1a", "firmware=105"},
    {"1Z", {"ZR9046-3C", "CUpdater1Z", 0x9046, "interface-1z.seg", 215}, "1z", "firmware=105"},
    {"MK", {"ZM7310-4K", "CUpdaterMK", 0x4D4B, "interface-mk.hex", 230}, "mk", "firmware=105"},
    {"ATMU", {"ZA0815-2T", "CUpdaterATMU", 0xA7B0, "atmu.hex", 312}, "atmu", "firmware=105"},
    {"C28xx", {"ZT5503-1D", "CUpdaterC28XX", 0x5503, "c28xx.hex", 214}, "c28xx", "firmware=105"},
    {"automotive trainer", {"AT-MOTREVO", "CUpdaterMotrevo", 0x4C17, "motrevo.srec", 312}, "motrevo", "firmware=105"},
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

  Run UpdateWithTrace(const std::string& id, const std::string& trace) {
    Run run;
    std::string command = "TAVRIX_USB_BUS='" + Bus() + "' TAVRIX_WAIT_SCALE=0 TAVRIX_USB_READ_BOUND=500 " TAVRIX_BIN_DIR
                          "/tavrix-update-cli --catalog '" + m_catalog + "' --lang 1033 --yes --on-failure exit --trace '" +
                          trace + "' update '" + id + "' 2>&1";
    run.output = RunProgram(command, run.status);
    run.status = WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -1;
    return run;
  }

  // One cell: the device with the fault, the update, and what it must hold to.
  void RunCell(const Row& row, const Cell& cell, const std::string& fault) {
    SCOPED_TRACE(std::string(row.family) + ", " + cell.name + " (" + fault + ")");
    ASSERT_TRUE(Plug(row.kind, std::string(row.options) + "," + fault));
    const std::string trace = m_folder / "trace";
    std::filesystem::remove(trace);
    const auto start = std::chrono::steady_clock::now();
    Run run = UpdateWithTrace(row.entry.Id, trace);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 15s) << "waited past the bound";
    EXPECT_TRUE(run.status == 0 || run.status == 1 || run.status == 3) << "crashed? status " << run.status << "\n"
                                                                        << run.output;
    const bool succeeded = Shows(run, Text(37));
    // Never "succeeded" for firmware the device did not get whole.
    if (succeeded) {
      EXPECT_TRUE(Eventually([this] { return Record().find("\nend ") != std::string::npos; }) &&
                  Record().ends_with("\nend complete\n"))
          << run.output << "\n" << Record().substr(0, 200);
    }
    EXPECT_FALSE(succeeded) << run.output;
    EXPECT_TRUE(run.status == 1 || run.status == 3) << run.output;
    // The cause is told: a message of the program's own before the result, or the "Interface"
    // dialog's when no device could be connected.
    EXPECT_TRUE(Shows(run, ApplicationName() + ": ") || (run.status == 3 && Shows(run, "Interface: ")))
        << run.output;
    // The wire trace shows how far it came.
    EXPECT_FALSE(ReadWholeFile(trace).empty());
  }
};

// Each row of the table is a test of its own, so that they run side by side.
TEST_P(FaultMatrixTest, HoldsInEveryCell) {
  const Row& row = GetParam();
  WriteCatalog({row.entry});
  // A whole download first: its counts place the faults.
  ASSERT_TRUE(Plug(row.kind, row.options));
  Run clean = Update(row.entry.Id);
  ASSERT_EQ(clean.status, 0) << clean.output;
  ASSERT_TRUE(Eventually([this] { return Record().ends_with("\nend complete\n"); }));
  const auto [acks, bytes] = Counts();
  ASSERT_GT(bytes, 0u);
  for (const Cell& cell : kCells) RunCell(row, cell, cell.fault(acks, bytes));
}

INSTANTIATE_TEST_SUITE_P(EveryUpdater, FaultMatrixTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& row) {
                           std::string name = row.param.family;
                           std::replace(name.begin(), name.end(), ' ', '_');
                           return name;
                         });

}  // namespace
