#include "wizard/done_page.h"

#include "platform/string_table.h"
#include "platform/text_format.h"
#include "updater/updater.h"
#include "wizard/dialog_templates.h"
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

bool CDonePage::OnSetActive() {
  View().SetControlText(kDonePageId, kResultText, ResultText());
  CWizardPage::OnSetActive();
  Sheet()->CancelToClose();
  PresentDownloadLog();
  return true;
}

void CDonePage::PresentDownloadLog() {
  const WizardState& state = TheWizardState();
  if (!state.Updater) return;
  std::string log = state.Updater->DownloadLog();
  if (log.empty()) return;
  if (state.DoneMessageId == 38) {
    View().ShowLog(kDonePageId, log);
  } else {
    View().OfferLog(kDonePageId, log);
  }
}
