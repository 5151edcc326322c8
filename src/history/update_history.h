#pragma once
// The history of updates: an SQLite database that every front end adds one record to per
// update. Several processes write at once (one per device, or two people), so the database
// runs in write-ahead-log mode and every writer waits up to five seconds for another's lock.

#include <stdexcept>
#include <string>
#include <vector>

#include "history/update_record.h"

struct sqlite3;

// Why the history could not be opened, written or read (SQLite's own words, or the file
// system's), and the file it concerns.
class CHistoryError : public std::runtime_error {
 public:
  CHistoryError(const std::string& path, const std::string& reason)
      : std::runtime_error(path + ": " + reason), m_reason(reason) {}
  const std::string& Reason() const { return m_reason; }

 private:
  std::string m_reason;
};

class CUpdateHistory {
 public:
  // How long a writer waits for another writer's lock before it gives up.
  static constexpr int kBusyTimeoutMs = 5000;

  // $XDG_STATE_HOME/tavrix-update/history.db, else ~/.local/state/tavrix-update/history.db.
  static std::string DefaultPath();
  // The records of the database at `path` that the filter lets through, newest first, without
  // creating anything: none when there is no file yet. Throws CHistoryError.
  static std::vector<UpdateRecord> ReadExisting(const std::string& path, const HistoryFilter& filter);

  // Opens the database at `path`, creating its folder, the file and its table when missing.
  // Throws CHistoryError when that fails (an unwritable folder, a file that is no database).
  explicit CUpdateHistory(const std::string& path);
  ~CUpdateHistory();
  CUpdateHistory(const CUpdateHistory&) = delete;
  CUpdateHistory& operator=(const CUpdateHistory&) = delete;

  // Adds one record; throws CHistoryError when it could not be written.
  void Add(const UpdateRecord& record);
  // The records the filter lets through, newest first; throws CHistoryError.
  std::vector<UpdateRecord> Query(const HistoryFilter& filter) const;

 private:
  void Execute(const char* sql) const;
  [[noreturn]] void Fail(const std::string& what) const;

  std::string m_path;
  sqlite3* m_db = nullptr;
};
