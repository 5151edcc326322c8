#include "history/history_table.h"

#include "history/history_writer.h"
#include "platform/string_table.h"
#include "updater/updater.h"

namespace {

constexpr int kFirstHeading = 44020;
constexpr int kColumnCount = 8;

std::string VersionText(const std::optional<std::uint16_t>& version) {
  return version ? FormatVersion(*version) : std::string("-");
}

}  // namespace

std::vector<std::string> HistoryTableHeadings() {
  std::vector<std::string> headings;
  for (int column = 0; column < kColumnCount; ++column) headings.push_back(LoadResString(kFirstHeading + column));
  return headings;
}

std::vector<std::string> HistoryTableRow(const UpdateRecord& record) {
  std::string time = record.started.substr(0, 19);
  if (time.size() > 10) time[10] = ' ';
  std::string cause = record.message;
  for (char& c : cause) c = c == '\n' ? ' ' : c;
  return {time,
          ResultText(record.result),
          record.catalogId,
          record.deviceId.empty() ? record.devicePath : record.deviceId,
          VersionText(record.firmwareBefore),
          VersionText(record.firmwareAfter),
          record.frontEnd,
          cause};
}
