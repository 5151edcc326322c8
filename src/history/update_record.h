#pragma once
// One update as the history keeps it, and what a look into the history asks for.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// How an update ended.
enum class UpdateResult {
  Programmed,    // the device was programmed
  UpToDate,      // the device was not older than the catalog's image; nothing was programmed
  Failed,        // programming began and did not succeed
  NotConnected,  // the device could not be opened or identified
};

// The stored name of a result: "programmed", "up to date", "failed", "not connected".
const char* ResultName(UpdateResult result);
// The result of a stored name; nothing for any other text.
std::optional<UpdateResult> ResultFromName(const std::string& name);

struct UpdateRecord {
  std::string started;  // UTC, ISO 8601 ("2026-12-11T02:13:18.123Z")
  std::string ended;
  std::string catalogId;   // the catalog entry's Id
  std::string deviceId;    // the device's stable id; empty when no device was opened
  std::string devicePath;  // its USB path or network address
  // Versions as the program keeps them (123 is 1.23); nothing when not known.
  std::optional<std::uint16_t> firmwareBefore;
  std::optional<std::uint16_t> firmwareAfter;
  std::optional<std::uint16_t> applicationBefore;
  std::optional<std::uint16_t> applicationAfter;
  UpdateResult result = UpdateResult::Failed;
  std::optional<int> messageId;  // the message that told the cause of a failure
  std::string message;           // its text
  std::string catalogFile;
  std::string imageSha256;  // lower-case hexadecimal; empty when the image is no readable file
  std::string frontEnd;     // "tavrix-update" or "tavrix-update-cli"
  std::string frontEndVersion;
  std::string host;
};

// Which records a look into the history wants; an empty field does not filter.
struct HistoryFilter {
  std::string deviceId;
  std::string catalogId;
  std::string since;  // a UTC date or time as IsUtcDateOrTime accepts; records started then or later
};

// `time` in UTC as ISO 8601 with milliseconds: "2026-12-11T02:13:18.123Z".
std::string IsoUtcTime(std::chrono::system_clock::time_point time);
// Whether `text` is "YYYY-MM-DD", optionally followed by "Thh:mm", ":ss", ".fff" and "Z"
// (always read as UTC): what --since takes.
bool IsUtcDateOrTime(const std::string& text);
// The name of this machine; empty when it has none.
std::string HostName();
