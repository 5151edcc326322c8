#pragma once
// Adds the record of an update to the history without ever stopping the update: a database
// that cannot be opened, stays locked past the wait or is damaged costs one warning on
// standard error, and the update goes on.

#include <string>

#include "history/update_record.h"

// Adds `record` to the history at `path` (the default one when empty). Returns the warning
// that was printed when the record could not be written, else an empty text.
std::string WriteToHistory(const UpdateRecord& record, const std::string& path = {});

// The people's name of a result in the current language (strings 44010-44013).
std::string ResultText(UpdateResult result);
