#pragma once
// The record of the wizard's update, from either front end: begun when the start page
// connects, written once when the outcome is known (the start page's failed connect, or the
// done page).

#include "history/update_record.h"

// An update begins: its start time is noted and the device of an earlier one forgotten.
void BeginUpdateRecord();
// Writes the record of the update begun last with `result`, from the wizard's state, the
// catalog's entry and the device the transport opened. Does nothing when no update is under
// way or its record is written already. A warning (the record could not be written) is kept
// in the wizard's state.
void RecordUpdateOutcome(UpdateResult result);
// The record RecordUpdateOutcome writes, ended now (tests read it too).
UpdateRecord RecordOfUpdate(UpdateResult result);
