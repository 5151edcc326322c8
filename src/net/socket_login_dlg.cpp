#include "net/socket_login_dlg.h"

#include "platform/string_table.h"
#include "platform/user_interface.h"

namespace {
constexpr int kPositiveIntegerMessage = 61700;
constexpr int kEmptyAddressMessage = 20019;
}  // namespace

CSocketLoginDlg::CSocketLoginDlg(bool allowSimulation, bool allowExit)
    : m_allowSimulation(allowSimulation), m_allowExit(allowExit) {}

std::string CSocketLoginDlg::Text(int controlId) const {
  return LoadResString(DialogStringId(kTemplateId, controlId));
}

bool CSocketLoginDlg::IsButtonEnabled(int controlId) const {
  switch (controlId) {
    case kRepeatButton: return true;
    case kSimulationButton: return m_allowSimulation;
    case kExitButton: return m_allowExit;
    default: return false;
  }
}

std::optional<std::uint16_t> CSocketLoginDlg::ParsePort(const std::string& text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  unsigned long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  // The field reads an unsigned 32-bit number; what is kept is its low 16 bits.
  if (value > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<std::uint16_t>(value & 0xFFFF);
}

std::optional<int> CSocketLoginDlg::PressButton(int controlId, const std::string& hostText,
                                                const std::string& portText) {
  switch (controlId) {
    case kRepeatButton: {
      if (hostText.empty()) {
        UserInterface().MessageBox(LoadResString(kEmptyAddressMessage), MB_OK | MB_ICONWARNING);
        return std::nullopt;
      }
      std::optional<std::uint16_t> parsed = ParsePort(portText);
      if (!parsed) {
        UserInterface().MessageBox(LoadResString(kPositiveIntegerMessage), MB_OK | MB_ICONWARNING);
        return std::nullopt;
      }
      host = hostText;
      port = *parsed;
      return kRepeatButton;
    }
    case kSimulationButton:
      if (m_allowSimulation) return kSimulationButton;
      return std::nullopt;
    case kExitButton: return Cancel();
    default: return std::nullopt;
  }
}

std::optional<int> CSocketLoginDlg::Cancel() const {
  if (m_allowExit) return kExitButton;
  return std::nullopt;
}

int CSocketLoginDlg::DoModal() {
  const int result = UserInterface().RunSocketLoginDialog(*this);
  if (result == kExitButton) RequestProgramExit();
  return result;
}
