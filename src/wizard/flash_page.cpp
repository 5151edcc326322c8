#include "wizard/flash_page.h"

#include "platform/string_table.h"
#include "platform/text_format.h"
#include "updater/updater.h"
#include "wizard/dialog_templates.h"
#include "wizard/page_sequences.h"
#include "wizard/wizard_sheet.h"
#include "wizard/wizard_sheet_view.h"
#include "wizard/wizard_state.h"

namespace {
constexpr int kFoundDeviceString = 42001;
}  // namespace

CFlashPage::CFlashPage() : CWizardPage(kFlashPageId) {}

std::string CFlashPage::FoundDeviceText() {
  const WizardState& state = TheWizardState();
  const DeviceRecord& record = state.Catalog.Record();
  return FormatMessage(LoadResString(kFoundDeviceString),
                       {record.Id, FormatVersion(state.ReportedFirmwareVersion), FormatVersion(record.FirmwareVersion)});
}

void CFlashPage::ShowFoundDevice() { View().SetControlText(kFlashPageId, kFoundDevice, FoundDeviceText()); }

bool CFlashPage::OnInitDialog() {
  ShowFoundDevice();
  return CWizardPage::OnInitDialog();
}

bool CFlashPage::OnSetActive() {
  ShowFoundDevice();
  return CWizardPage::OnSetActive();
}

int CFlashPage::OnWizardNext() {
  Sheet()->SetPageSequence(kFullSequence, false);
  Sheet()->MarkNoReturn();
  return CWizardPage::OnWizardNext();
}
