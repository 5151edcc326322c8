// End to end: tavrix-update-cli updates a simulated 2A interface on the emulated bus, and every
// update leaves its record in the history, which `history` prints for people and, with
// --json, one object per line. A history that cannot be written never stops an update.

#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <regex>

#include <nlohmann/json.hpp>

#include "devices/2a/catalog_2a.h"
#include "support/cli_end_to_end.h"
#include "support/json_objects.h"
#include "updater/updater.h"

namespace {

constexpr const auto& kEntry = k2ATestEntries[0];  // QI-2A1, firmware 3.12

class HistoryEndToEndTest : public CliEndToEndTest {
 protected:
  HistoryEndToEndTest() {
    if (const char* previous = std::getenv("XDG_STATE_HOME")) m_previousStateHome = previous;
    SetStateHome(m_folder / "state");
    m_catalog = Write2ATestCatalog(m_folder);
  }
  ~HistoryEndToEndTest() override {
    if (m_previousStateHome) ::setenv("XDG_STATE_HOME", m_previousStateHome->c_str(), 1);
  }

  // The programs started from here keep their history under `folder`.
  static void SetStateHome(const std::string& folder) { ::setenv("XDG_STATE_HOME", folder.c_str(), 1); }
  std::string DatabasePath() const { return m_folder / "state/tavrix-update/history.db"; }

  bool Plug(const std::string& options) { return CliEndToEndTest::Plug("2a", options); }

  // `tavrix-update-cli history ARGS`: its output (standard error too) and exit status.
  Run History(const std::string& args) {
    Run run;
    run.output = RunProgram(TAVRIX_BIN_DIR "/tavrix-update-cli --lang 1033 history " + args + " 2>&1", run.status);
    run.status = WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -1;
    return run;
  }
  // The lines of `history --json ARGS`, each parsed.
  std::vector<nlohmann::json> JsonHistory(const std::string& args = "") {
    Run run = History("--json " + args);
    EXPECT_EQ(run.status, 0) << run.output;
    std::vector<nlohmann::json> lines;
    std::istringstream in(run.output);
    for (std::string line; std::getline(in, line);) {
      try {
        lines.push_back(nlohmann::json::parse(line));
      } catch (const nlohmann::json::exception& error) {
        ADD_FAILURE() << "not JSON: " << line << " (" << error.what() << ")";
      }
    }
    return lines;
  }

  std::string FirmwareSha256() {
    int status = -1;
    std::string sum = RunProgram("sha256sum '" + ::FirmwarePath(m_folder, kEntry).string() + "'", status);
    return sum.substr(0, sum.find(' '));
  }

  std::optional<std::string> m_previousStateHome;
};

// Every field of a record with the JSON type the manual page lists, whatever the outcome.
void ExpectFieldTypes(const nlohmann::json& line) {
  EXPECT_EQ(JsonOutputProblems(line.dump() + "\n"), "");
  const std::regex utc(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}Z)");
  for (const char* name : {"started", "ended"}) {
    EXPECT_TRUE(std::regex_match(line.value(name, ""), utc)) << line;
  }
  EXPECT_LE(line.value("started", ""), line.value("ended", ""));
}

TEST_F(HistoryEndToEndTest, EachOutcomeLeavesOneRecordNewestFirst) {
  ASSERT_TRUE(Plug(std::string("variant=") + kEntry.variant + ",firmware=105"));
  EXPECT_EQ(Update(kEntry.id).status, 0);
  ASSERT_TRUE(BackAfterEject());
  EXPECT_EQ(Update(kEntry.id).status, 0);
  ASSERT_TRUE(Plug(std::string("variant=") + kEntry.variant + ",firmware=105,refuse_ack=3"));
  EXPECT_EQ(Update(kEntry.id).status, 1);
  m_devsim.reset();
  EXPECT_EQ(Update(kEntry.id).status, 3);

  const std::vector<nlohmann::json> lines = JsonHistory();
  ASSERT_EQ(lines.size(), 4u);
  for (const nlohmann::json& line : lines) {
    SCOPED_TRACE(line.dump());
    ExpectFieldTypes(line);
    EXPECT_EQ(line["catalog_id"], kEntry.id);
    EXPECT_EQ(line["catalog_file"], m_catalog);
    EXPECT_EQ(line["image_sha256"], FirmwareSha256());
    EXPECT_EQ(line["front_end"], "tavrix-update-cli");
    EXPECT_EQ(line["front_end_version"], TAVRIX_VERSION_TEXT);
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    EXPECT_EQ(line["host"], host);
    // A 2A interface has no application.
    EXPECT_TRUE(line["application_before"].is_null());
    EXPECT_TRUE(line["application_after"].is_null());
  }
  const nlohmann::json null;
  struct Expected {
    const char* result;
    nlohmann::json before, after, messageId;
    std::string message;
    bool device;  // a device was opened
  };
  const Expected expected[] = {
      {"not connected", null, null, null, "", false},
      {"failed", "1.05", null, 20016, Text(20016), true},
      {"up to date", FormatVersion(kEntry.version), FormatVersion(kEntry.version), null, "", true},
      {"programmed", "1.05", FormatVersion(kEntry.version), null, "", true},
  };
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const Expected& e = expected[i];
    const nlohmann::json& line = lines[i];
    SCOPED_TRACE(e.result);
    EXPECT_EQ(line["result"], e.result);
    EXPECT_EQ(line["firmware_before"], e.before);
    EXPECT_EQ(line["firmware_after"], e.after);
    EXPECT_EQ(line["message_id"], e.messageId);
    EXPECT_EQ(line["message"], e.message);
    EXPECT_EQ(line["device_id"].get<std::string>().empty(), !e.device);
    EXPECT_EQ(line["device_path"].get<std::string>().empty(), !e.device);
  }
  // The device's records, found by its id; the person's table names the same four.
  const std::string device = lines[1]["device_id"];
  EXPECT_EQ(JsonHistory("--device '" + device + "'").size(), 3u);
  Run table = History("");
  EXPECT_EQ(table.status, 0);
  for (const char* shown : {"Started (UTC)", "not connected", "failed", "up to date", "programmed", "3.12"}) {
    EXPECT_TRUE(Shows(table, shown)) << table.output;
  }
}

TEST_F(HistoryEndToEndTest, AHistoryThatCannotBeWrittenWarnsOnceAndTheUpdateGoesOn) {
  struct Case {
    const char* name;
    std::function<void()> prepare;
  };
  const Case cases[] = {
      {"a damaged database", [this] { m_folder.Write("state/tavrix-update/history.db", std::string(4096, 'x')); }},
      {"a file where the state folder should be", [this] { SetStateHome(m_folder.Write("state-file", "text")); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.prepare();
    ASSERT_TRUE(Plug(std::string("variant=") + kEntry.variant + ",firmware=105"));
    Run run = Update(kEntry.id);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Shows(run, Text(37))) << run.output;
    EXPECT_EQ(TimesShown(run, "Warning: the update history"), 1u) << run.output;
    ASSERT_TRUE(DownloadEnded());
    EXPECT_TRUE(Record().ends_with("\nend complete\n")) << Record();
    m_devsim.reset();
  }
}

TEST_F(HistoryEndToEndTest, HistoryRefusesWhatItDoesNotTake) {
  EXPECT_EQ(History("").output, "No update has been recorded yet.\n");
  EXPECT_EQ(History("--json").output, "");
  for (const char* args : {"--since yesterday", "--since", "--colour", "QI-2A1"}) {
    SCOPED_TRACE(args);
    Run run = History(args);
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_TRUE(Shows(run, "usage: history")) << run.output;
  }
}

}  // namespace
