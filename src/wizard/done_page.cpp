#include "wizard/done_page.h"

#include "platform/string_table.h"
#include "platform/text_format.h"
#include "updater/updater.h"
#include "wizard/dialog_templates.h"
#include "wizard/update_recording.h"
#include "wizard/wizard_sheet.h"
#include "wizard/wizard_sheet_view.h"
#include "wizard/wizard_state.h"

CDonePage::CDonePage() : CWizardPage(kDonePageId) {}

std::string CDonePage::ResultText() {
  const WizardState& state = TheWizardState();
  if (state.DoneMessageId == 40) {
    std::string format = LoadResString(40);
    return FormatText(format.c_str(), state.DeviceFirmwareVersion / 100, state.DeviceFirmwareVersion % 100);
  }
  return LoadResString(state.DoneMessageId);
}

std::string CDonePage::OutcomeText() {
  const WizardState& state = TheWizardState();
  if (!state.Updated || state.DoneMessageId != 37) return {};
  const DeviceRecord& record = state.Catalog.Record();
  std::optional<std::uint16_t> readBack = FirmwareReadBack(state);
  const int textId = readBack ? kReadBackText : kCatalogVersionText;
  return FormatMessage(LoadResString(textId), {record.Id, FormatVersion(readBack.value_or(record.FirmwareVersion))});
}

UpdateResult CDonePage::Outcome() {
  const WizardState& state = TheWizardState();
  if (state.DoneMessageId == 38) return UpdateResult::Failed;
  // Nothing programmed (the device was not older) is up to date, whatever led here.
  return state.Updated ? UpdateResult::Programmed : UpdateResult::UpToDate;
}

bool CDonePage::OnSetActive() {
  RecordUpdateOutcome(Outcome());
  View().SetControlText(kDonePageId, kResultText, ResultText());
  View().SetControlText(kDonePageId, kOutcomeText, OutcomeText());
  CWizardPage::OnSetActive();
  Sheet()->CancelToClose();
  PresentDownloadLog();
  return true;
}

void CDonePage::PresentDownloadLog() {
  const WizardState& state = TheWizardState();
  std::string log = state.Updater ? state.Updater->DownloadLog() : std::string();
  // Where the log is a box on the page, it keeps the cause of a failure in sight too (the
  // terminal has printed it already).
  if (!state.FailureCause.empty() && View().HasLogBox()) {
    log = log.empty() ? state.FailureCause : state.FailureCause + "\n\n" + log;
  }
  // Likewise the warning that the history could not be written.
  if (!state.HistoryWarning.empty() && View().HasLogBox()) {
    log = log.empty() ? state.HistoryWarning : log + "\n\n" + state.HistoryWarning;
  }
  if (log.empty()) return;
  if (state.DoneMessageId == 38) {
    View().ShowLog(kDonePageId, log);
  } else {
    View().OfferLog(kDonePageId, log);
  }
}
