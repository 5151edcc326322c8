#include "transport/usb_init_failed_dlg.h"

#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"

namespace {
// Both templates carry the same texts; they are kept under the larger one's numbers.
constexpr int kTitleString = DialogStringId(20002, 0);
constexpr int kRepeatString = DialogStringId(20002, CUsbInitFailedDlg::kRepeatButton);
constexpr int kSimulationString = DialogStringId(20002, CUsbInitFailedDlg::kSimulationButton);
constexpr int kExitString = DialogStringId(20002, CUsbInitFailedDlg::kExitButton);
}  // namespace

CUsbInitFailedDlg::CUsbInitFailedDlg(bool allowSimulation, bool allowExit, std::string productName)
    : m_allowSimulation(allowSimulation), m_allowExit(allowExit), m_productName(std::move(productName)) {}

std::string CUsbInitFailedDlg::Title() const { return LoadResString(kTitleString); }

std::string CUsbInitFailedDlg::Text() const {
  return FormatMessage(LoadResString(20006), {m_productName});
}

std::string CUsbInitFailedDlg::ButtonText(int controlId) const {
  switch (controlId) {
    case kRepeatButton: return LoadResString(kRepeatString);
    case kSimulationButton: return LoadResString(kSimulationString);
    case kExitButton: return LoadResString(kExitString);
    default: return {};
  }
}

std::optional<int> CUsbInitFailedDlg::PressButton(int controlId) const {
  switch (controlId) {
    case kRepeatButton: return kRepeatButton;
    case kSimulationButton:
      if (m_allowSimulation) return kSimulationButton;
      return std::nullopt;
    case kExitButton: return Cancel();
    default: return std::nullopt;
  }
}

std::optional<int> CUsbInitFailedDlg::Cancel() const {
  if (m_allowExit) return kExitButton;
  return std::nullopt;
}

int CUsbInitFailedDlg::DoModal() {
  int result = UserInterface().RunInterfaceDialog(*this);
  if (result == -1) result = kExitButton;
  if (result == kExitButton) RequestProgramExit();
  return result;
}
