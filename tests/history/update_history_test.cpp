// The history store on its own: what goes in comes out newest first and filtered, many
// processes write at once without losing a record, and a history that cannot be written costs
// one warning and nothing else.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <set>

#include "history/history_writer.h"
#include "history/update_history.h"
#include "platform/string_table.h"
#include "support/temp_folder.h"

namespace {

UpdateRecord Record(const std::string& started, const std::string& catalogId, const std::string& deviceId,
                    UpdateResult result) {
  UpdateRecord record;
  record.started = started;
  record.ended = started;
  record.catalogId = catalogId;
  record.deviceId = deviceId;
  record.devicePath = "/bus/" + deviceId;
  record.result = result;
  return record;
}

class UpdateHistoryTest : public ::testing::Test {
 protected:
  UpdateHistoryTest() { SetUiLanguage(LANG_ENGLISH); }
  std::string DatabasePath() const { return m_folder / "state/tavrix-update/history.db"; }

  CTempFolder m_folder;
};

TEST_F(UpdateHistoryTest, EveryFieldComesBackAsWritten) {
  UpdateRecord full = Record("2026-12-11T02:13:18.123Z", "QI-2A1", "usb-7d2a-0001", UpdateResult::Failed);
  full.ended = "2026-12-11T02:13:20.456Z";
  full.firmwareBefore = 105;
  full.applicationBefore = 0;  // zero is a version, not a missing one
  full.messageId = 20016;
  full.message = "Übertragung abgelehnt\nzweite Zeile";
  full.catalogFile = "/opt/tavrix/tavrix-update.config";
  full.imageSha256 = std::string(64, 'a');
  full.frontEnd = "tavrix-update-cli";
  full.frontEndVersion = "1.2.3";
  full.host = "bench-7";
  UpdateRecord bare = Record("2026-12-11T02:14:00.000Z", "QI-2A3", "", UpdateResult::NotConnected);
  bare.devicePath.clear();

  CUpdateHistory history(DatabasePath());
  history.Add(full);
  history.Add(bare);
  const std::vector<UpdateRecord> records = history.Query({});
  ASSERT_EQ(records.size(), 2u);
  const UpdateRecord& back = records[1];
  EXPECT_EQ(back.started, full.started);
  EXPECT_EQ(back.ended, full.ended);
  EXPECT_EQ(back.catalogId, full.catalogId);
  EXPECT_EQ(back.deviceId, full.deviceId);
  EXPECT_EQ(back.devicePath, full.devicePath);
  EXPECT_EQ(back.firmwareBefore, std::optional<std::uint16_t>(105));
  EXPECT_EQ(back.firmwareAfter, std::nullopt);
  EXPECT_EQ(back.applicationBefore, std::optional<std::uint16_t>(0));
  EXPECT_EQ(back.applicationAfter, std::nullopt);
  EXPECT_EQ(back.result, UpdateResult::Failed);
  EXPECT_EQ(back.messageId, std::optional<int>(20016));
  EXPECT_EQ(back.message, full.message);
  EXPECT_EQ(back.catalogFile, full.catalogFile);
  EXPECT_EQ(back.imageSha256, full.imageSha256);
  EXPECT_EQ(back.frontEnd, full.frontEnd);
  EXPECT_EQ(back.frontEndVersion, full.frontEndVersion);
  EXPECT_EQ(back.host, full.host);
  EXPECT_EQ(records[0].result, UpdateResult::NotConnected);
  EXPECT_EQ(records[0].messageId, std::nullopt);
  EXPECT_EQ(records[0].deviceId, "");
}

TEST_F(UpdateHistoryTest, QueriesAreNewestFirstAndFiltered) {
  {
    CUpdateHistory history(DatabasePath());
    // Added out of order: the order of the answer is by start time.
    history.Add(Record("2026-12-02T08:00:00.000Z", "QI-2A1", "dev-b", UpdateResult::Programmed));
    history.Add(Record("2026-12-01T09:30:00.000Z", "QI-2A1", "dev-a", UpdateResult::Programmed));
    history.Add(Record("2026-12-03T10:00:00.000Z", "QI-2A3", "dev-a", UpdateResult::UpToDate));
    history.Add(Record("2026-12-01T09:30:00.000Z", "QI-2A3", "dev-b", UpdateResult::Failed));
  }
  struct Case {
    const char* name;
    HistoryFilter filter;
    std::vector<std::string> expected;  // "started catalogId deviceId"
  };
  const Case cases[] = {
      {"all", {},
       {"2026-12-03 QI-2A3 dev-a", "2026-12-02 QI-2A1 dev-b", "2026-12-01 QI-2A3 dev-b", "2026-12-01 QI-2A1 dev-a"}},
      {"one device", {"dev-a", "", ""}, {"2026-12-03 QI-2A3 dev-a", "2026-12-01 QI-2A1 dev-a"}},
      {"one catalog entry", {"", "QI-2A1", ""}, {"2026-12-02 QI-2A1 dev-b", "2026-12-01 QI-2A1 dev-a"}},
      {"both", {"dev-b", "QI-2A3", ""}, {"2026-12-01 QI-2A3 dev-b"}},
      {"since a date", {"", "", "2026-12-02"}, {"2026-12-03 QI-2A3 dev-a", "2026-12-02 QI-2A1 dev-b"}},
      {"since a time, with Z", {"", "", "2026-12-02T08:00Z"}, {"2026-12-03 QI-2A3 dev-a", "2026-12-02 QI-2A1 dev-b"}},
      {"since a later time", {"", "", "2026-12-02T08:00:01"}, {"2026-12-03 QI-2A3 dev-a"}},
      {"nothing matches", {"dev-c", "", ""}, {}},
  };
  CUpdateHistory history(DatabasePath());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> found;
    for (const UpdateRecord& record : history.Query(c.filter)) {
      found.push_back(record.started.substr(0, 10) + " " + record.catalogId + " " + record.deviceId);
    }
    EXPECT_EQ(found, c.expected);
  }
}

TEST_F(UpdateHistoryTest, SixteenProcessesWritingAtOnceLoseNoRecord) {
  constexpr int kWriters = 16;
  constexpr int kRecordsEach = 20;
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // Every writer opens the database itself, the first ones creating it at the same time.
      int status = 0;
      try {
        CUpdateHistory history(DatabasePath());
        for (int i = 0; i < kRecordsEach; ++i) {
          history.Add(Record(IsoUtcTime(std::chrono::system_clock::now()), "QI-2A1",
                             "writer-" + std::to_string(writer) + "-" + std::to_string(i), UpdateResult::Programmed));
        }
      } catch (const std::exception& error) {
        std::fprintf(stderr, "writer %d: %s\n", writer, error.what());
        status = 1;
      }
      ::_exit(status);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::set<std::string> devices;
  for (const UpdateRecord& record : CUpdateHistory(DatabasePath()).Query({})) devices.insert(record.deviceId);
  EXPECT_EQ(devices.size(), static_cast<std::size_t>(kWriters * kRecordsEach));
  for (int writer = 0; writer < kWriters; ++writer) {
    for (int i = 0; i < kRecordsEach; ++i) {
      EXPECT_EQ(devices.count("writer-" + std::to_string(writer) + "-" + std::to_string(i)), 1u);
    }
  }
}

TEST_F(UpdateHistoryTest, AHistoryThatCannotBeWrittenCostsOneWarning) {
  struct Case {
    const char* name;
    std::string path;
    std::function<void()> prepare;
  };
  const std::string blocker = m_folder / "not-a-folder";
  const Case cases[] = {
      {"a file that is no database", DatabasePath(),
       [this] { m_folder.Write("state/tavrix-update/history.db", std::string(4096, 'x')); }},
      {"a file where the folder should be", blocker + "/tavrix-update/history.db",
       [&] { m_folder.Write("not-a-folder", "plain text"); }},
  };
  const UpdateRecord record = Record("2026-12-11T02:13:18.123Z", "QI-2A1", "dev-a", UpdateResult::Programmed);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.prepare();
    testing::internal::CaptureStderr();
    const std::string warning = WriteToHistory(record, c.path);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(warning.find(c.path), std::string::npos) << warning;
    EXPECT_EQ(printed, warning + "\n");
  }
  // The damaged file is left as it was: the history never destroys what it cannot read.
  EXPECT_EQ(ReadWholeFile(DatabasePath()), std::string(4096, 'x'));
}

TEST_F(UpdateHistoryTest, AWriterGivesUpOnALockHeldPastTheTimeOut) {
  { CUpdateHistory created(DatabasePath()); }
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Another process holds the write lock longer than a writer waits for it.
    sqlite3* db = nullptr;
    if (sqlite3_open(DatabasePath().c_str(), &db) != SQLITE_OK ||
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
      ::_exit(1);
    }
    (void)!::write(ready[1], "L", 1);
    ::sleep(CUpdateHistory::kBusyTimeoutMs / 1000 + 5);
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  const auto start = std::chrono::steady_clock::now();
  testing::internal::CaptureStderr();
  const std::string warning =
      WriteToHistory(Record("2026-12-11T02:13:18.123Z", "QI-2A1", "dev-a", UpdateResult::Programmed), DatabasePath());
  const std::string printed = testing::internal::GetCapturedStderr();
  const auto waited = std::chrono::steady_clock::now() - start;
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_FALSE(warning.empty());
  EXPECT_EQ(printed, warning + "\n");
  EXPECT_GE(waited, std::chrono::milliseconds(CUpdateHistory::kBusyTimeoutMs));
  EXPECT_LT(waited, std::chrono::milliseconds(CUpdateHistory::kBusyTimeoutMs + 4000));
  // Once the lock is gone the next update is recorded again.
  EXPECT_EQ(WriteToHistory(Record("2026-12-11T02:14:00.000Z", "QI-2A1", "dev-a", UpdateResult::Programmed),
                           DatabasePath()),
            "");
  EXPECT_EQ(CUpdateHistory(DatabasePath()).Query({}).size(), 1u);
}

}  // namespace
