#pragma once
// PumpPendingMessages: dispatches everything that waits for the core thread — the running
// wizard sheet's posted requests and the person's queued actions that are harmless during work
// — then the front end's own (IUserInterface::PumpPendingMessages). True when nothing is left;
// false when a quit request was met, which stays pending so that the wizard still ends as
// soon as control returns to its modal run. Long core work calls it; IFlashProgress's
// PumpMessages and SetPos go through it.

bool PumpPendingMessages();
