#include "support/scripted_user_interface.h"

#include <optional>
#include <stdexcept>

#include "wizard/language_dialog.h"
#include "net/socket_login_dlg.h"
#include "net/udp_connect_dlg.h"
#include "transport/usb_init_failed_dlg.h"

CScriptedUserInterface::CScriptedUserInterface() : m_previous(nullptr) { SetUserInterface(this); }

CScriptedUserInterface::~CScriptedUserInterface() { SetUserInterface(m_previous); }

std::vector<std::string> CScriptedUserInterface::MessageTexts() const {
  std::vector<std::string> texts;
  for (const auto& shown : m_record) {
    if (shown.kind == "message") texts.push_back(shown.text);
  }
  return texts;
}

int CScriptedUserInterface::MessageBox(const std::string& text, unsigned style) {
  m_record.push_back({"message", text, style});
  if (onMessageBox) onMessageBox();
  if (m_messageAnswers.empty()) return IDOK;
  int answer = m_messageAnswers.front();
  m_messageAnswers.pop_front();
  return answer;
}

std::vector<std::string> CScriptedUserInterface::InterfaceTexts() const {
  std::vector<std::string> texts;
  for (const auto& shown : m_record) {
    if (shown.kind == "interface") texts.push_back(shown.text);
  }
  return texts;
}

int CScriptedUserInterface::RunInterfaceDialog(CUsbInitFailedDlg& dialog) {
  if (!m_interfaceAnswers.empty() && m_interfaceAnswers.front() == kNotShown) {
    m_interfaceAnswers.pop_front();
    return -1;
  }
  m_record.push_back({"interface", dialog.Text(), static_cast<unsigned>(dialog.TemplateId())});
  while (!m_interfaceAnswers.empty()) {
    int answer = m_interfaceAnswers.front();
    m_interfaceAnswers.pop_front();
    std::optional<int> result = answer == kEscape ? dialog.Cancel() : dialog.PressButton(answer);
    if (result) return *result;
    m_record.push_back({"interface-ignored", std::to_string(answer), 0});
  }
  if (std::optional<int> result = dialog.Cancel()) return *result;
  throw std::logic_error("the Interface dialog waits for an answer the test did not queue");
}

int CScriptedUserInterface::RunSocketLoginDialog(CSocketLoginDlg& dialog) {
  m_record.push_back({"server-login", dialog.host + ":" + std::to_string(dialog.port),
                      static_cast<unsigned>(CSocketLoginDlg::kTemplateId)});
  while (!m_loginAnswers.empty()) {
    LoginAnswer answer = m_loginAnswers.front();
    m_loginAnswers.pop_front();
    std::optional<int> result =
        answer.button == kEscape
            ? dialog.Cancel()
            : dialog.PressButton(answer.button, answer.host.value_or(dialog.host),
                                 answer.port.value_or(std::to_string(dialog.port)));
    if (result) return *result;
    m_record.push_back({"server-login-ignored", std::to_string(answer.button), 0});
  }
  if (std::optional<int> result = dialog.Cancel()) return *result;
  throw std::logic_error("the Server Login dialog waits for an answer the test did not queue");
}

int CScriptedUserInterface::RunConnectDialog(CUdpConnectDlg& dialog) {
  m_record.push_back({"connect", dialog.address, static_cast<unsigned>(CUdpConnectDlg::kTemplateId)});
  if (m_connectScripts.empty()) return dialog.Cancel();
  auto script = std::move(m_connectScripts.front());
  m_connectScripts.pop_front();
  return script(dialog);
}

int CScriptedUserInterface::RunLanguageDialog(CLanguageDialog& dialog) {
  languageDialogs.push_back({dialog.Title(), dialog.SelectedLanguage(), dialog.DontShowAgain()});
  m_record.push_back({"language", dialog.Title(), 0});
  if (m_languageAnswers.empty()) return *dialog.Cancel();
  LanguageAnswer answer = m_languageAnswers.front();
  m_languageAnswers.pop_front();
  const auto& languages = CLanguageDialog::Languages();
  for (std::size_t i = 0; i < languages.size(); ++i) {
    if (languages[i] == answer.langId) dialog.Select(static_cast<int>(i));
  }
  dialog.SetDontShowAgain(answer.dontShowAgain);
  return answer.ok ? *dialog.PressOk() : *dialog.Cancel();
}

bool CScriptedUserInterface::ShowAnimationWindow(int dialogId, int) {
  m_record.push_back({"animation", std::to_string(dialogId), 0});
  animationShown = animationCanStart;
  return animationCanStart;
}

void CScriptedUserInterface::SetAnimationText(const std::string& text) {
  m_record.push_back({"animation-text", text, 0});
}

void CScriptedUserInterface::CloseAnimationWindow() {
  m_record.push_back({"animation-closed", {}, 0});
  animationShown = false;
}
