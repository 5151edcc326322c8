#pragma once
// The device-link failure last shown to the person (CStreamException::ReportError): many
// downloads catch the link's exception, show its message and return false; the record of the
// update still names that message as the cause.

#include <optional>
#include <string>

struct ReportedLinkFailure {
  int messageId = 0;
  std::string text;
};

void NoteReportedLinkFailure(ReportedLinkFailure failure);
std::optional<ReportedLinkFailure> LastReportedLinkFailure();
// Forgets it (a new step of the update begins, whose failures count alone).
void ForgetReportedLinkFailure();
