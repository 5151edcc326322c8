#include "console/console_user_interface.h"

#include <cctype>
#include <cstdlib>

#include "console/json_output.h"
#include "net/socket_login_dlg.h"
#include "net/udp_connect_dlg.h"
#include "platform/text_format.h"
#include "transport/usb_init_failed_dlg.h"
#include "wizard/anim_thread_dialog.h"
#include "wizard/language_dialog.h"

namespace {

constexpr int kIdAbort = 3;

struct Choice {
  char key;
  const char* label;
  int result;
};

struct Question {
  std::vector<Choice> choices;
  int cancelling;  // the answer without a terminal, or at the end of input
};

// The buttons of the message box styles that ask something.
std::optional<Question> QuestionFor(unsigned style) {
  switch (style & 0xF) {
    case MB_OKCANCEL: return Question{{{'o', "OK", IDOK}, {'c', "Cancel", IDCANCEL}}, IDCANCEL};
    case 0x2: return Question{{{'a', "Abort", kIdAbort}, {'r', "Retry", IDRETRY}, {'i', "Ignore", IDIGNORE}}, kIdAbort};
    case 0x3:
      return Question{{{'y', "Yes", IDYES}, {'n', "No", IDNO}, {'c', "Cancel", IDCANCEL}}, IDCANCEL};
    case MB_YESNO: return Question{{{'y', "Yes", IDYES}, {'n', "No", IDNO}}, IDNO};
    case 0x5: return Question{{{'r', "Retry", IDRETRY}, {'c', "Cancel", IDCANCEL}}, IDCANCEL};
    default: return std::nullopt;
  }
}

std::string Trim(std::string text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  std::size_t start = 0;
  while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
  return text.substr(start);
}

}  // namespace

std::string WithoutMnemonic(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size() && text[i + 1] != '&') continue;
    if (text[i] == '&') ++i;
    plain += text[i];
  }
  return plain;
}

CConsoleUserInterface::CConsoleUserInterface(ConsoleSession& session)
    : m_session(session), m_progress(session.streams.out, session.streams.outIsTerminal) {}

std::optional<std::string> CConsoleUserInterface::Ask(const std::string& prompt) {
  m_progress.Break();
  std::fprintf(m_session.streams.err, "%s", prompt.c_str());
  std::fflush(m_session.streams.err);
  std::string line;
  int c = 0;
  while ((c = std::fgetc(m_session.streams.in)) != EOF && c != '\n') line += static_cast<char>(c);
  if (c == EOF && line.empty()) return std::nullopt;
  return Trim(line);
}

int CConsoleUserInterface::MessageBox(const std::string& text, unsigned style) {
  m_progress.Break();
  std::fprintf(m_session.streams.err, "%s: %s\n", ApplicationName().c_str(), text.c_str());
  std::fflush(m_session.streams.err);
  if (m_session.json != nullptr) EmitJson({{"type", "message"}, {"text", text}, {"error", (style & MB_ICONERROR) != 0}});
  std::optional<Question> question = QuestionFor(style);
  if (!question) return IDOK;
  if (!m_session.streams.inIsTerminal) return question->cancelling;
  std::string prompt;
  for (const Choice& choice : question->choices) {
    prompt += FormatText("%s[%c] %s", prompt.empty() ? "" : ", ", choice.key, choice.label);
  }
  while (true) {
    std::optional<std::string> answer = Ask(prompt + "? ");
    if (!answer) return question->cancelling;
    for (const Choice& choice : question->choices) {
      if (!answer->empty() && std::tolower(static_cast<unsigned char>((*answer)[0])) == choice.key) return choice.result;
    }
  }
}

int CConsoleUserInterface::ExitInterfaceDialog(CUsbInitFailedDlg& dialog) {
  // Without an Exit button the dialog cannot be left; a script must not wait for ever, so it
  // counts as a dialog that could not be shown, which means Exit.
  return dialog.Cancel().value_or(-1);
}

int CConsoleUserInterface::RetryInterfaceDialog(CUsbInitFailedDlg& dialog) {
  if (m_retries >= m_session.options.retries) {
    std::fprintf(m_session.streams.err, "tavrix-update-cli: giving up after %d retries\n", m_retries);
    return ExitInterfaceDialog(dialog);
  }
  ++m_retries;
  return *dialog.PressButton(CUsbInitFailedDlg::kRepeatButton);
}

int CConsoleUserInterface::SimulateInterfaceDialog(CUsbInitFailedDlg& dialog) {
  if (std::optional<int> result = dialog.PressButton(CUsbInitFailedDlg::kSimulationButton)) return *result;
  std::fprintf(m_session.streams.err, "tavrix-update-cli: simulation is not offered here\n");
  return ExitInterfaceDialog(dialog);
}

int CConsoleUserInterface::AskInterfaceDialog(CUsbInitFailedDlg& dialog) {
  struct Button {
    char key;
    int controlId;
    bool offered;
  };
  const Button buttons[] = {{'r', CUsbInitFailedDlg::kRepeatButton, true},
                            {'s', CUsbInitFailedDlg::kSimulationButton, dialog.IsSimulationEnabled()},
                            {'x', CUsbInitFailedDlg::kExitButton, dialog.HasExitButton()}};
  // "Repeat Initialising" is the dialog's default button: its key in capitals, and Enter takes it.
  const Button& byDefault = buttons[0];
  std::string prompt;
  for (const Button& button : buttons) {
    if (!button.offered) continue;
    const char key = &button == &byDefault ? static_cast<char>(std::toupper(button.key)) : button.key;
    prompt += FormatText("%s[%c] %s", prompt.empty() ? "" : ", ", key,
                         WithoutMnemonic(dialog.ButtonText(button.controlId)).c_str());
  }
  while (true) {
    std::optional<std::string> answer = Ask(prompt + "? ");
    if (!answer) return ExitInterfaceDialog(dialog);
    const char key = answer->empty() ? byDefault.key : static_cast<char>(std::tolower(static_cast<unsigned char>((*answer)[0])));
    for (const Button& button : buttons) {
      if (button.key != key) continue;
      if (std::optional<int> result = dialog.PressButton(button.controlId)) return *result;
    }
  }
}

int CConsoleUserInterface::RunInterfaceDialog(CUsbInitFailedDlg& dialog) {
  m_progress.Break();
  std::fprintf(m_session.streams.err, "%s: %s\n", WithoutMnemonic(dialog.Title()).c_str(), dialog.Text().c_str());
  FailureAction action = m_session.options.onFailure.value_or(
      m_session.streams.inIsTerminal ? FailureAction::Ask : FailureAction::Exit);
  switch (action) {
    case FailureAction::Ask: return AskInterfaceDialog(dialog);
    case FailureAction::Retry: return RetryInterfaceDialog(dialog);
    case FailureAction::Simulate: return SimulateInterfaceDialog(dialog);
    case FailureAction::Exit: break;
  }
  return ExitInterfaceDialog(dialog);
}

int CConsoleUserInterface::RunLanguageDialog(CLanguageDialog& dialog) { return *dialog.Cancel(); }

bool CConsoleUserInterface::ShowAnimationWindow(int dialogId, int animationId) {
  CAnimThreadDialog dialog(dialogId, animationId);
  SetStatus(dialog.Title() + ": " + dialog.Text());
  return true;
}

void CConsoleUserInterface::SetAnimationText(const std::string& text) { SetStatus(text); }

void CConsoleUserInterface::SetStatus(const std::string& text) {
  m_progress.SetStatus(text);
  if (m_session.json != nullptr && !text.empty()) EmitJson({{"type", "status"}, {"text", text}});
}

void CConsoleUserInterface::CloseAnimationWindow() { m_progress.Break(); }

int CConsoleUserInterface::AskSocketLoginDialog(CSocketLoginDlg& dialog) {
  std::optional<std::string> host = Ask(FormatText("%s [%s]: ", WithoutMnemonic(dialog.Text(CSocketLoginDlg::kAddressLabel)).c_str(), dialog.host.c_str()));
  if (!host) return dialog.Cancel().value_or(-1);
  std::optional<std::string> port = Ask(FormatText("%s [%u]: ", WithoutMnemonic(dialog.Text(CSocketLoginDlg::kPortLabel)).c_str(), dialog.port));
  if (!port) return dialog.Cancel().value_or(-1);
  std::string hostText = host->empty() ? dialog.host : *host;
  std::string portText = port->empty() ? std::to_string(dialog.port) : *port;
  struct Button {
    char key;
    int controlId;
  };
  const Button buttons[] = {{'r', CSocketLoginDlg::kRepeatButton},
                            {'s', CSocketLoginDlg::kSimulationButton},
                            {'x', CSocketLoginDlg::kExitButton}};
  std::string prompt;
  for (const Button& button : buttons) {
    if (!dialog.IsButtonEnabled(button.controlId)) continue;
    prompt += FormatText("%s[%c] %s", prompt.empty() ? "" : ", ", button.key,
                         WithoutMnemonic(dialog.Text(button.controlId)).c_str());
  }
  while (true) {
    std::optional<std::string> answer = Ask(prompt + "? ");
    if (!answer) return dialog.Cancel().value_or(-1);
    for (const Button& button : buttons) {
      if (answer->empty() || std::tolower(static_cast<unsigned char>((*answer)[0])) != button.key) continue;
      if (std::optional<int> result = dialog.PressButton(button.controlId, hostText, portText)) return *result;
      // A refused address or port was named in a message; ask for both again.
      if (button.controlId == CSocketLoginDlg::kRepeatButton) return AskSocketLoginDialog(dialog);
    }
  }
}

int CConsoleUserInterface::RunSocketLoginDialog(CSocketLoginDlg& dialog) {
  m_progress.Break();
  std::fprintf(m_session.streams.err, "%s: %s (%s:%u)\n", dialog.Text(0).c_str(),
               dialog.Text(CSocketLoginDlg::kTextControl).c_str(), dialog.host.c_str(), dialog.port);
  FailureAction action = m_session.options.onFailure.value_or(
      m_session.streams.inIsTerminal ? FailureAction::Ask : FailureAction::Exit);
  switch (action) {
    case FailureAction::Ask: return AskSocketLoginDialog(dialog);
    case FailureAction::Retry:
      if (m_retries < m_session.options.retries) {
        ++m_retries;
        // An address the dialog refuses (none at all, say) never works: its message has been
        // shown, and retrying it again would only repeat it.
        if (auto result = dialog.PressButton(CSocketLoginDlg::kRepeatButton, dialog.host, std::to_string(dialog.port))) {
          return *result;
        }
        break;
      }
      std::fprintf(m_session.streams.err, "tavrix-update-cli: giving up after %d retries\n", m_retries);
      break;
    case FailureAction::Simulate:
      if (auto result = dialog.PressButton(CSocketLoginDlg::kSimulationButton, dialog.host, std::to_string(dialog.port))) {
        return *result;
      }
      std::fprintf(m_session.streams.err, "tavrix-update-cli: simulation is not offered here\n");
      break;
    case FailureAction::Exit: break;
  }
  // Without an Exit button a script must not wait for ever: a dialog not shown means Exit.
  return dialog.Cancel().value_or(-1);
}

int CConsoleUserInterface::PickOnlyDevice(CUdpConnectDlg& dialog) {
  dialog.FindDevices();
  const auto& items = dialog.ListItems();
  if (items.size() == 1) {
    dialog.Select(0);
    if (auto result = dialog.PressOk(dialog.address)) {
      m_connectOutcome = ConnectOutcome::Chosen;
      return *result;
    }
    return dialog.Cancel();
  }
  if (items.empty()) {
    std::fprintf(m_session.streams.err, "tavrix-update-cli: no device of type %u answered; give --address HOST[:PORT]\n",
                 dialog.DeviceType());
    m_connectOutcome = ConnectOutcome::NoDevice;
    return dialog.Cancel();
  }
  std::fprintf(m_session.streams.err, "tavrix-update-cli: %zu devices of type %u answered; choose one with --address:\n",
               items.size(), dialog.DeviceType());
  for (const std::string& item : items) std::fprintf(m_session.streams.err, "  %s\n", item.c_str());
  m_connectOutcome = ConnectOutcome::SeveralDevices;
  return dialog.Cancel();
}

int CConsoleUserInterface::AskConnectDialog(CUdpConnectDlg& dialog) {
  std::fprintf(m_session.streams.err, "%s\n", WithoutMnemonic(dialog.Text(CUdpConnectDlg::kFindButton)).c_str());
  dialog.FindDevices();
  while (true) {
    const auto& items = dialog.ListItems();
    std::fprintf(m_session.streams.err, "%s\n", dialog.Text(CUdpConnectDlg::kAvailableLabel).c_str());
    for (std::size_t i = 0; i < items.size(); ++i) std::fprintf(m_session.streams.err, "  [%zu] %s\n", i + 1, items[i].c_str());
    std::optional<std::string> answer =
        Ask(FormatText("number, [f] to search again, or %s [%s]: ",
                       dialog.Text(CUdpConnectDlg::kAddressLabel).c_str(), dialog.address.c_str()));
    if (!answer) return dialog.Cancel();
    if (*answer == "f" || *answer == "F") {
      dialog.FindDevices();
      continue;
    }
    std::string text = answer->empty() ? dialog.address : *answer;
    char* end = nullptr;
    unsigned long number = std::strtoul(text.c_str(), &end, 10);
    if (!text.empty() && *end == '\0' && number >= 1 && number <= items.size()) {
      dialog.Select(static_cast<int>(number - 1));
      text = dialog.address;
    }
    if (auto result = dialog.PressOk(text)) {
      m_connectOutcome = ConnectOutcome::Chosen;
      return *result;
    }
  }
}

int CConsoleUserInterface::RunConnectDialog(CUdpConnectDlg& dialog) {
  m_progress.Break();
  m_connectOutcome = ConnectOutcome::Cancelled;
  if (const auto& given = m_session.options.address) {
    std::string host = *given;
    std::optional<std::uint16_t> port;
    // HOST[:PORT]; an address with more than one colon is taken whole.
    if (auto colon = host.rfind(':'); colon != std::string::npos && host.find(':') == colon) {
      // A port on the command line is taken as written: one past 65535 is a mistake, not a
      // number to cut to 16 bits as the dialogs' fields do.
      std::string digits = host.substr(colon + 1);
      port = CSocketLoginDlg::ParsePort(digits);
      if (port && (digits.size() > 5 || std::strtoul(digits.c_str(), nullptr, 10) > 0xFFFF)) port.reset();
      if (!port) {
        std::fprintf(m_session.streams.err, "tavrix-update-cli: --address: the port must be a number from 0 to 65535: %s\n", given->c_str());
        m_connectOutcome = ConnectOutcome::AddressRefused;
        return dialog.Cancel();
      }
      host.resize(colon);
    }
    std::optional<int> result = dialog.PressOk(host);
    if (!result) {
      // The dialog's message says why; the option is named so that the caller knows which.
      std::fprintf(m_session.streams.err, "tavrix-update-cli: --address: refused: %s\n", given->c_str());
      m_connectOutcome = ConnectOutcome::AddressRefused;
      return dialog.Cancel();
    }
    if (port) dialog.port = *port;
    m_connectOutcome = ConnectOutcome::Chosen;
    return *result;
  }
  if (m_session.streams.inIsTerminal) return AskConnectDialog(dialog);
  return PickOnlyDevice(dialog);
}
