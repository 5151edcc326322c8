#include "history/history_writer.h"

#include <cstdio>

#include "history/update_history.h"
#include "platform/string_table.h"
#include "platform/text_format.h"

namespace {

constexpr int kWriteWarning = 44001;
constexpr int kFirstResultText = 44010;

// Prints the one warning that the record of an update was not written; returns it.
std::string Warn(const std::string& file, const std::string& reason) {
  std::string warning = FormatMessage(LoadResString(kWriteWarning), {file, reason});
  std::fprintf(stderr, "%s\n", warning.c_str());
  std::fflush(stderr);
  return warning;
}

}  // namespace

std::string WriteToHistory(const UpdateRecord& record, const std::string& path) {
  const std::string file = path.empty() ? CUpdateHistory::DefaultPath() : path;
  try {
    CUpdateHistory history(file);
    history.Add(record);
    return {};
  } catch (const CHistoryError& error) {
    return Warn(file, error.Reason());
  } catch (const std::exception& error) {
    // Whatever else went wrong, the update goes on.
    return Warn(file, error.what());
  }
}

std::string ResultText(UpdateResult result) {
  return LoadResString(kFirstResultText + static_cast<int>(result));
}
