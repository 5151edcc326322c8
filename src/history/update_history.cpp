#include "history/update_history.h"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/user_folders.h"

namespace {

constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS updates ("
    " id INTEGER PRIMARY KEY,"
    " started TEXT NOT NULL, ended TEXT NOT NULL,"
    " catalog_id TEXT NOT NULL, device_id TEXT NOT NULL, device_path TEXT NOT NULL,"
    " firmware_before INTEGER, firmware_after INTEGER,"
    " application_before INTEGER, application_after INTEGER,"
    " result TEXT NOT NULL, message_id INTEGER, message TEXT NOT NULL,"
    " catalog_file TEXT NOT NULL, image_sha256 TEXT NOT NULL,"
    " front_end TEXT NOT NULL, front_end_version TEXT NOT NULL, host TEXT NOT NULL)";

constexpr const char* kColumns =
    "started, ended, catalog_id, device_id, device_path, firmware_before, firmware_after,"
    " application_before, application_after, result, message_id, message, catalog_file,"
    " image_sha256, front_end, front_end_version, host";

// A prepared statement, finalized when it goes.
class CStatement {
 public:
  CStatement(sqlite3* db, const std::string& sql) : m_db(db) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &m_statement, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(db));
    }
  }
  ~CStatement() { sqlite3_finalize(m_statement); }
  CStatement(const CStatement&) = delete;
  CStatement& operator=(const CStatement&) = delete;

  void Bind(int index, const std::string& text) {
    sqlite3_bind_text(m_statement, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  template <typename T>
  void Bind(int index, const std::optional<T>& value) {
    if (value) {
      sqlite3_bind_int(m_statement, index, static_cast<int>(*value));
    } else {
      sqlite3_bind_null(m_statement, index);
    }
  }
  // True while there is a row; throws on an error.
  bool Step() {
    const int status = sqlite3_step(m_statement);
    if (status == SQLITE_ROW) return true;
    if (status == SQLITE_DONE) return false;
    throw std::runtime_error(sqlite3_errmsg(m_db));
  }
  std::string Text(int column) const {
    const unsigned char* text = sqlite3_column_text(m_statement, column);
    return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
  }
  template <typename T>
  std::optional<T> Number(int column) const {
    if (sqlite3_column_type(m_statement, column) == SQLITE_NULL) return std::nullopt;
    return static_cast<T>(sqlite3_column_int(m_statement, column));
  }

 private:
  sqlite3* m_db;
  sqlite3_stmt* m_statement = nullptr;
};

UpdateRecord ReadRecord(const CStatement& row) {
  UpdateRecord record;
  record.started = row.Text(0);
  record.ended = row.Text(1);
  record.catalogId = row.Text(2);
  record.deviceId = row.Text(3);
  record.devicePath = row.Text(4);
  record.firmwareBefore = row.Number<std::uint16_t>(5);
  record.firmwareAfter = row.Number<std::uint16_t>(6);
  record.applicationBefore = row.Number<std::uint16_t>(7);
  record.applicationAfter = row.Number<std::uint16_t>(8);
  // A result this program does not know is none of its own successes.
  record.result = ResultFromName(row.Text(9)).value_or(UpdateResult::Failed);
  record.messageId = row.Number<int>(10);
  record.message = row.Text(11);
  record.catalogFile = row.Text(12);
  record.imageSha256 = row.Text(13);
  record.frontEnd = row.Text(14);
  record.frontEndVersion = row.Text(15);
  record.host = row.Text(16);
  return record;
}

// A --since text as a prefix that sorts with the stored times: without its "Z".
std::string SinceKey(std::string since) {
  if (!since.empty() && since.back() == 'Z') since.pop_back();
  return since;
}

}  // namespace

std::string CUpdateHistory::DefaultPath() { return UserStateFolder() + "/history.db"; }

std::vector<UpdateRecord> CUpdateHistory::ReadExisting(const std::string& path, const HistoryFilter& filter) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return {};
  return CUpdateHistory(path).Query(filter);
}

CUpdateHistory::CUpdateHistory(const std::string& path) : m_path(path) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::error_code error;
  if (!folder.empty()) std::filesystem::create_directories(folder, error);
  if (error) throw CHistoryError(path, folder.string() + ": " + error.message());
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
    const std::string why = m_db != nullptr ? sqlite3_errmsg(m_db) : "out of memory";
    sqlite3_close(m_db);
    throw CHistoryError(path, why);
  }
  try {
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    Execute("PRAGMA journal_mode=WAL");
    // In that mode a commit without waiting for the disk cannot damage the database; at worst
    // the last records are lost when the power fails, and the updates go faster.
    Execute("PRAGMA synchronous=NORMAL");
    Execute("BEGIN IMMEDIATE");
    Execute(kCreateTable);
    Execute("COMMIT");
  } catch (...) {
    sqlite3_close(m_db);
    throw;
  }
}

CUpdateHistory::~CUpdateHistory() { sqlite3_close(m_db); }

void CUpdateHistory::Fail(const std::string& what) const { throw CHistoryError(m_path, what); }

void CUpdateHistory::Execute(const char* sql) const {
  // The busy time-out covers the waits for a lock; a few steps (the switch to the log mode
  // while another process creates the file) report busy at once, and are tried again within
  // the same time.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (;;) {
    const int status = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (status == SQLITE_OK) return;
    const int primary = status & 0xFF;
    if ((primary != SQLITE_BUSY && primary != SQLITE_LOCKED) || std::chrono::steady_clock::now() > deadline) {
      const std::string why = sqlite3_errmsg(m_db);
      if (sqlite3_get_autocommit(m_db) == 0) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
      Fail(why);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void CUpdateHistory::Add(const UpdateRecord& record) {
  try {
    CStatement insert(m_db, std::string("INSERT INTO updates (") + kColumns +
                                ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    insert.Bind(1, record.started);
    insert.Bind(2, record.ended);
    insert.Bind(3, record.catalogId);
    insert.Bind(4, record.deviceId);
    insert.Bind(5, record.devicePath);
    insert.Bind(6, record.firmwareBefore);
    insert.Bind(7, record.firmwareAfter);
    insert.Bind(8, record.applicationBefore);
    insert.Bind(9, record.applicationAfter);
    insert.Bind(10, std::string(ResultName(record.result)));
    insert.Bind(11, record.messageId);
    insert.Bind(12, record.message);
    insert.Bind(13, record.catalogFile);
    insert.Bind(14, record.imageSha256);
    insert.Bind(15, record.frontEnd);
    insert.Bind(16, record.frontEndVersion);
    insert.Bind(17, record.host);
    // The write lock is taken at the start, so that the busy time-out covers the wait for it.
    Execute("BEGIN IMMEDIATE");
    try {
      insert.Step();
    } catch (...) {
      sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
    Execute("COMMIT");
  } catch (const CHistoryError&) {
    throw;
  } catch (const std::runtime_error& error) {
    Fail(error.what());
  }
}

std::vector<UpdateRecord> CUpdateHistory::Query(const HistoryFilter& filter) const {
  std::string sql = std::string("SELECT ") + kColumns + " FROM updates WHERE 1";
  if (!filter.deviceId.empty()) sql += " AND device_id = ?1";
  if (!filter.catalogId.empty()) sql += " AND catalog_id = ?2";
  if (!filter.since.empty()) sql += " AND started >= ?3";
  sql += " ORDER BY started DESC, id DESC";
  try {
    CStatement select(m_db, sql);
    if (!filter.deviceId.empty()) select.Bind(1, filter.deviceId);
    if (!filter.catalogId.empty()) select.Bind(2, filter.catalogId);
    if (!filter.since.empty()) select.Bind(3, SinceKey(filter.since));
    std::vector<UpdateRecord> records;
    while (select.Step()) records.push_back(ReadRecord(select));
    return records;
  } catch (const std::runtime_error& error) {
    Fail(error.what());
  }
}
