#pragma once
// The failure last shown to the person in an error message: a device-link failure
// (CStreamException::ReportError) or an image that was not sent. Many updaters show such a
// message and return false; the record of the update still names it as the cause.

#include <optional>
#include <string>

struct ShownFailure {
  int messageId = 0;  // the message's number; 0 when the text is made of several
  std::string text;
};

void NoteShownFailure(ShownFailure failure);
std::optional<ShownFailure> LastShownFailure();
// Forgets it (a new step of the update begins, whose failures count alone).
void ForgetShownFailure();
