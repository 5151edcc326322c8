#pragma once
// `history [--device DEVICE-ID] [--id CATALOG-ID] [--since DATE] [--json]`: the recorded
// updates, newest first: a table for people, or one JSON object per line.

#include <string>

#include <nlohmann/json.hpp>

#include "console/commands.h"
#include "history/update_record.h"

std::string HistoryUsage();
int RunHistoryCommand(const CommandArgs& args);

// One record as the JSON object --json prints ("type": "record"): every field under its name,
// versions as texts ("3.12") and the message id as a number, or null.
nlohmann::ordered_json RecordToJson(const UpdateRecord& record);
