#include "wizard/progress_page.h"

#include "updater/updater.h"
#include "wizard/dialog_templates.h"
#include "wizard/message_pump.h"
#include "wizard/update_verification.h"
#include "platform/user_interface.h"
#include "platform/wait_cursor.h"
#include "platform/shown_failure.h"
#include "transport/stream_exception.h"
#include "wizard/wizard_sheet.h"
#include "wizard/wizard_sheet_view.h"
#include "wizard/wizard_state.h"

CProgressPage::CProgressPage() : CWizardPage(kProgressPageId) {}

bool CProgressPage::OnInitDialog() {
  CWizardPage::OnInitDialog();
  PostWizardButtons(0);
  Sheet()->EnableCancel(false);
  return true;
}

bool CProgressPage::OnSetActive() {
  // Every button stays off while the update runs: nothing may navigate away from it.
  PostWizardButtons(0);
  Sheet()->EnableCancel(false);
  return true;
}

int CProgressPage::OnAutoRun() {
  View().RepaintPage(kProgressPageId);
  {
    CWaitCursor wait;
    WizardState& state = TheWizardState();
    const DeviceRecord& record = state.Catalog.Record();
    if (state.DeviceFirmwareVersion < record.FirmwareVersion ||
        state.DeviceApplicationVersion < record.ApplicationVersion) {
      // Only a failure shown from here on is the cause of this update's failure.
      ForgetShownFailure();
      try {
        state.Updated = state.Updater && state.Updater->Update(record, this);
        if (!state.Updated || (state.VerifyAfterUpdate && !CUpdateVerification(this).Run())) state.DoneMessageId = 38;
      } catch (const CStreamException& error) {
        ReportFailureCause(error);
        state.DoneMessageId = 38;
      } catch (const std::exception& exception) {
        state.FailureException = exception.what();
        OnException(exception);
        state.DoneMessageId = 38;
      } catch (...) {
        // Whatever escapes the update, the wizard reaches the done page and reports failure.
        state.DoneMessageId = 38;
      }
    }
  }
  Sheet()->MarkNoReturn();
  return kDonePageId;
}

void CProgressPage::ReportFailureCause(const CStreamException& error) {
  // The device link's own message says what went wrong; the done page keeps it in its log.
  std::string cause;
  TheWizardState().FailureMessageId = error.MessageId();
  if (!error.GetErrorMessage(cause)) return;
  TheWizardState().FailureCause = cause;
  UserInterface().MessageBox(cause, MB_OK | MB_ICONERROR);
}

void CProgressPage::SetRange(std::uint16_t lower, std::uint16_t upper) {
  m_barVisible = true;
  View().ShowControl(kProgressPageId, kProgressBar, true);
  View().SetProgressRange(kProgressPageId, kProgressBar, lower, upper);
}

bool CProgressPage::SetPos(int position) {
  View().SetProgressPos(kProgressPageId, kProgressBar, position);
  return PumpMessages();
}

void CProgressPage::SetMarquee() { View().StartProgressMarquee(kProgressPageId, kProgressBar); }

void CProgressPage::ShowStatusText(const std::string& text) {
  m_status = text;
  // Some status texts end in a line break ("Writing page %2d at 0%04X\n"): shown as it stands,
  // it would make the line two high and move everything below it at every change.
  const std::size_t end = text.find_last_not_of("\r\n");
  View().SetControlText(kProgressPageId, kStatusLine, end == std::string::npos ? std::string() : text.substr(0, end + 1));
  View().RepaintPage(kProgressPageId);
}

void CProgressPage::SetDetailText(const std::string& text) {
  m_detail = text;
  View().SetControlText(kProgressPageId, kDetailLine, text);
  View().RepaintPage(kProgressPageId);
}

bool CProgressPage::PumpMessages() { return PumpPendingMessages(); }

void CProgressPage::ShowProject(const std::string& folder, const std::string& summary) {
  View().SetControlText(kProgressPageId, kProjectFolder, folder);
  View().SetControlText(kProgressPageId, kProjectSummary, summary);
  for (int controlId : {kProjectLabel, kProjectFolder, kProjectSummary}) {
    View().ShowControl(kProgressPageId, controlId, true);
  }
  View().RepaintPage(kProgressPageId);
}
