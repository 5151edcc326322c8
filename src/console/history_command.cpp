#include "console/history_command.h"

#include <vector>

#include "console/console_session.h"
#include "console/json_output.h"
#include "history/history_table.h"
#include "history/update_history.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "updater/updater.h"

namespace {

constexpr int kReadFailed = 44002;
constexpr int kNothingRecorded = 44003;

struct HistoryArgs {
  HistoryFilter filter;
  std::string error;
};

HistoryArgs ParseHistoryArgs(const CommandArgs& args) {
  HistoryArgs parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (auto equals = name.find('='); equals != std::string::npos && name.rfind("--", 0) == 0) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    std::string* field = name == "--device" ? &parsed.filter.deviceId
                         : name == "--id"   ? &parsed.filter.catalogId
                         : name == "--since" ? &parsed.filter.since
                                             : nullptr;
    if (field == nullptr) {
      parsed.error = "history does not take '" + args[i] + "'";
      return parsed;
    }
    if (!value && i + 1 < args.size()) value = args[++i];
    if (!value || value->empty()) {
      parsed.error = name + " needs a value";
      return parsed;
    }
    *field = *value;
  }
  if (!parsed.filter.since.empty() && !IsUtcDateOrTime(parsed.filter.since)) {
    parsed.error = "--since takes a UTC date or time: YYYY-MM-DD[Thh:mm[:ss]][Z]";
  }
  return parsed;
}

// The characters of a UTF-8 text (what a terminal gives a column to).
std::size_t Width(const std::string& text) {
  std::size_t width = 0;
  for (unsigned char byte : text) width += (byte & 0xC0) != 0x80 ? 1 : 0;
  return width;
}

void PrintTable(const std::vector<UpdateRecord>& records, std::FILE* out) {
  std::vector<std::vector<std::string>> rows{HistoryTableHeadings()};
  for (const UpdateRecord& record : records) rows.push_back(HistoryTableRow(record));
  std::vector<std::size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (std::size_t column = 0; column < row.size(); ++column) widths[column] = std::max(widths[column], Width(row[column]));
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t column = 0; column < row.size(); ++column) {
      line += row[column];
      if (column + 1 < row.size()) line += std::string(widths[column] - Width(row[column]) + 2, ' ');
    }
    std::fprintf(out, "%s\n", line.substr(0, line.find_last_not_of(' ') + 1).c_str());
  }
}

nlohmann::ordered_json OrNull(const std::optional<int>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

// A version as the program shows it ("3.12"), or null when it is not known.
nlohmann::ordered_json VersionOrNull(const std::optional<std::uint16_t>& version) {
  return version ? nlohmann::ordered_json(FormatVersion(*version)) : nlohmann::ordered_json(nullptr);
}

}  // namespace

std::string HistoryUsage() {
  return "history [--device DEVICE-ID] [--id CATALOG-ID] [--since DATE] [--json]  the recorded updates, "
         "newest first";
}

nlohmann::ordered_json RecordToJson(const UpdateRecord& record) {
  return nlohmann::ordered_json{
      {"type", "record"},
      {"started", record.started},
      {"ended", record.ended},
      {"catalog_id", record.catalogId},
      {"device_id", record.deviceId},
      {"device_path", record.devicePath},
      {"firmware_before", VersionOrNull(record.firmwareBefore)},
      {"firmware_after", VersionOrNull(record.firmwareAfter)},
      {"application_before", VersionOrNull(record.applicationBefore)},
      {"application_after", VersionOrNull(record.applicationAfter)},
      {"result", ResultName(record.result)},
      {"message_id", OrNull(record.messageId)},
      {"message", record.message},
      {"catalog_file", record.catalogFile},
      {"image_sha256", record.imageSha256},
      {"front_end", record.frontEnd},
      {"front_end_version", record.frontEndVersion},
      {"host", record.host},
  };
}

int RunHistoryCommand(const CommandArgs& args) {
  const ConsoleStreams& streams = Console().streams;
  const HistoryArgs parsed = ParseHistoryArgs(args);
  if (!parsed.error.empty()) {
    std::fprintf(streams.err, "tavrix-update-cli: %s; usage: %s\n", parsed.error.c_str(), HistoryUsage().c_str());
    return kExitSetup;
  }
  const std::string path = CUpdateHistory::DefaultPath();
  std::vector<UpdateRecord> records;
  try {
    records = CUpdateHistory::ReadExisting(path, parsed.filter);
  } catch (const CHistoryError& error) {
    std::fprintf(streams.err, "%s\n", FormatMessage(LoadResString(kReadFailed), {path, error.Reason()}).c_str());
    return kExitSetup;
  }
  if (JsonMode()) {
    for (const UpdateRecord& record : records) EmitJson(RecordToJson(record));
  } else if (records.empty()) {
    std::fprintf(streams.out, "%s\n", LoadResString(kNothingRecorded).c_str());
  } else {
    PrintTable(records, streams.out);
  }
  return std::fflush(streams.out) == 0 ? kExitOk : kExitFailed;
}
