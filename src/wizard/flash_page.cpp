#include "wizard/flash_page.h"

#include "platform/connected_device.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/usb_bus.h"
#include "updater/attached_devices.h"
#include "updater/updater.h"
#include "wizard/dialog_templates.h"
#include "wizard/page_sequences.h"
#include "wizard/wizard_sheet.h"
#include "wizard/wizard_sheet_view.h"
#include "wizard/wizard_state.h"

namespace {
constexpr int kFoundDeviceString = 42001;
constexpr int kFoundApplicationString = 42002;
constexpr int kSeveralAttachedString = 42003;
}  // namespace

CFlashPage::CFlashPage() : CWizardPage(kFlashPageId) {}

std::string CFlashPage::FoundDeviceText() {
  const WizardState& state = TheWizardState();
  const DeviceRecord& record = state.Catalog.Record();
  std::string text = FormatMessage(LoadResString(kFoundDeviceString),
                                   {record.Id, FormatVersion(state.ReportedFirmwareVersion),
                                    FormatVersion(record.FirmwareVersion)});
  // An entry with an application is also programmed for an older application alone; the
  // person sees both versions that decide it.
  if (record.HasApplication) {
    text += "\n" + FormatMessage(LoadResString(kFoundApplicationString),
                                 {FormatVersion(state.ReportedApplicationVersion),
                                  FormatVersion(record.ApplicationVersion)});
  }
  if (std::string several = SeveralAttachedText(); !several.empty()) text += "\n" + several;
  return text;
}

std::string CFlashPage::SeveralAttachedText() {
  std::size_t count = AttachedDevicesOf(UsbBus(), TheWizardState().Catalog.Record()).size();
  if (count < 2) return {};
  return FormatMessage(LoadResString(kSeveralAttachedString), {std::to_string(count), LastConnectedDevice().id});
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
