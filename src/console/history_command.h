#pragma once
// `history [--device DEVICE-ID] [--id CATALOG-ID] [--since DATE] [--json]`: the recorded
// updates, newest first: a table for people, or one JSON object per line.

#include <string>

#include <nlohmann/json.hpp>

#include "console/commands.h"
#include "history/update_record.h"

std::string HistoryUsage();
int RunHistoryCommand(const CommandArgs& args);

// One record as the JSON object --json prints: every field under its name, versions and the
// message id as numbers or null.
nlohmann::json RecordToJson(const UpdateRecord& record);
