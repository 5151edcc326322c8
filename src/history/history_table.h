#pragma once
// The history as people read it, the same in both front ends (the wizard's dialog, the
// terminal's table): the column headings and one row of texts per record.

#include <string>
#include <vector>

#include "history/update_record.h"

// Started (UTC), result, catalog Id, device, firmware before, firmware after, program, cause;
// in the current language.
std::vector<std::string> HistoryTableHeadings();
// The cells of `record` under those headings: the start time to the second, the result in the
// current language, the device's id (its path when it has none), versions as "1.23" ("-" when
// not known), the cause on one line.
std::vector<std::string> HistoryTableRow(const UpdateRecord& record);
