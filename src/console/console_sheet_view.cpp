#include "console/console_sheet_view.h"

#include <sstream>
#include <stdexcept>

#include "console/json_output.h"
#include "platform/ascii_text.h"
#include "platform/connected_device.h"
#include "platform/string_table.h"
#include "wizard/dialog_templates.h"
#include "wizard/done_page.h"
#include "wizard/flash_page.h"
#include "wizard/progress_page.h"
#include "wizard/start_page.h"
#include "wizard/wizard_state.h"

namespace {

constexpr int kLogHeadingString = 41005;  // "Download Log"

}  // namespace

CConsoleSheetView::CConsoleSheetView(CConsoleUserInterface& ui, ConsoleSession& session, std::string deviceId)
    : m_ui(ui), m_session(session), m_deviceId(std::move(deviceId)) {}

CConsoleSheetView::~CConsoleSheetView() = default;

void CConsoleSheetView::ShowPage(int pageId) {
  if (m_page == kStartPageId && (pageId == kFlashPageId || pageId == kDonePageId)) ReportConnected(pageId);
  m_page = pageId;
  m_signals.SetProgramming(pageId == kProgressPageId);
}

void CConsoleSheetView::ReportConnected(int nextPage) {
  const WizardState& state = TheWizardState();
  const DeviceRecord& record = state.Catalog.Record();
  ConnectedDevice device = LastConnectedDevice();
  // The flash page's lines name it; an up-to-date device goes to the done page at once.
  if (nextPage == kDonePageId) {
    if (std::string several = CFlashPage::SeveralAttachedText(); !several.empty()) {
      std::fprintf(m_session.streams.err, "tavrix-update-cli: %s\n", several.c_str());
    }
  }
  EmitJson({{"type", "connected"},
            {"catalog_id", record.Id},
            {"device_id", device.id},
            {"device_path", device.path},
            {"firmware", JsonVersion(state.ReportedFirmwareVersion)},
            {"application", record.HasApplication ? JsonVersion(state.ReportedApplicationVersion) : nullptr},
            {"catalog_firmware", JsonVersion(record.FirmwareVersion)},
            {"catalog_application", record.HasApplication ? JsonVersion(record.ApplicationVersion) : nullptr},
            {"needs_programming", nextPage == kFlashPageId}});
}

void CConsoleSheetView::SetControlText(int pageId, int controlId, const std::string& text) {
  if (pageId == kProgressPageId && controlId == CProgressPage::kStatusLine) m_ui.SetStatus(text);
  if (pageId == kProgressPageId && controlId == CProgressPage::kDetailLine) m_ui.Progress().SetDetail(text);
  if (pageId == kDonePageId && controlId == CDonePage::kResultText) m_doneText = text;
  if (pageId == kDonePageId && controlId == CDonePage::kOutcomeText) m_outcomeText = text;
  // The project lines are printed once, when the updater names the project.
  if (pageId == kProgressPageId && controlId == CProgressPage::kProjectFolder && !text.empty()) {
    m_ui.Progress().Line(LoadResString(DialogStringId(kProgressPageId, CProgressPage::kProjectLabel)) + " " + text);
  }
  if (pageId == kProgressPageId && controlId == CProgressPage::kProjectSummary && !text.empty()) {
    m_ui.Progress().Line(text);
  }
}

void CConsoleSheetView::AddListLine(int pageId, int controlId, const std::string& line) {
  if (pageId == kStartPageId && controlId == CStartPage::kDeviceList) m_lines.push_back(line);
}

void CConsoleSheetView::SetProgressRange(int, int, int lower, int upper) { m_ui.Progress().SetRange(lower, upper); }

void CConsoleSheetView::SetProgressPos(int, int, int position) {
  m_ui.Progress().SetPos(position);
  if (position == m_lastPosition) return;
  m_lastPosition = position;
  EmitJson({{"type", "progress"}, {"position", position}, {"percent", m_ui.Progress().Percent()}});
}

void CConsoleSheetView::StartProgressMarquee(int, int) { m_ui.Progress().SetMarquee(); }

void CConsoleSheetView::OfferLog(int, const std::string& log) { m_log = log; }

void CConsoleSheetView::ShowLog(int, const std::string& log) { m_log = log; }

void CConsoleSheetView::PrintLog() {
  if (m_log.empty()) return;
  std::string log = m_log;
  if (log.back() != '\n') log += '\n';
  std::fprintf(m_session.streams.err, "tavrix-update-cli: %s:\n%s", LoadResString(kLogHeadingString).c_str(), log.c_str());
  std::fflush(m_session.streams.err);
}

WizardEvent CConsoleSheetView::WaitForAction() {
  if (!m_pending.empty()) {
    WizardEvent event = m_pending.front();
    m_pending.pop_front();
    return event;
  }
  switch (m_page) {
    case kStartPageId: return OnStartPage();
    case kFlashPageId: return OnFlashPage();
    case kDonePageId: return OnDonePage();
    default: throw std::logic_error("the wizard waits on a page that runs by itself");
  }
}

WizardEvent CConsoleSheetView::OnStartPage() {
  // One attempt: when the wizard waits on the start page again, Next did not get through and
  // the reason has been shown.
  if (m_triedNext || !TheWizardState().Catalog.IsOpen()) return {WizardAction::Cancel, kStartPageId};
  m_triedNext = true;
  for (std::size_t i = 0; i < m_lines.size(); ++i) {
    if (CStartPage::IdOfLine(m_lines[i]) != m_deviceId) continue;
    m_idListed = true;
    m_pending.push_back({WizardAction::Next, kStartPageId});
    return {WizardAction::SelectionChanged, kStartPageId, CStartPage::kDeviceList, static_cast<int>(i)};
  }
  // No such entry: named, with the way to see them all and the entry that differs only in case.
  std::string text = "tavrix-update-cli: the catalog has no entry '" + m_deviceId + "'";
  for (const std::string& line : m_lines) {
    const std::string id = CStartPage::IdOfLine(line);
    if (EqualsIgnoringAsciiCase(id, m_deviceId)) text += "; did you mean '" + id + "'?";
  }
  std::fprintf(m_session.streams.err, "%s\ntavrix-update-cli list names every entry\n", text.c_str());
  return {WizardAction::Cancel, kStartPageId};
}

bool CConsoleSheetView::Confirm() {
  if (m_session.options.yes) return true;
  if (!m_session.streams.inIsTerminal) {
    std::fprintf(m_session.streams.err, "tavrix-update-cli: programming needs confirmation; pass --yes\n");
    return false;
  }
  std::fprintf(m_session.streams.err, "%s\n\n%s\n\n%s\n\n", LoadResString(DialogStringId(kFlashPageId, 101)).c_str(),
               LoadResString(DialogStringId(kFlashPageId, 900)).c_str(),
               LoadResString(DialogStringId(kFlashPageId, 901)).c_str());
  std::optional<std::string> answer = m_ui.Ask("Start programming now? [y/N] ");
  return answer && !answer->empty() && ((*answer)[0] == 'y' || (*answer)[0] == 'Y');
}

WizardEvent CConsoleSheetView::OnFlashPage() {
  // One line for each version pair, each under the program's name, so that a script can grep them.
  std::istringstream found(CFlashPage::FoundDeviceText());
  for (std::string line; std::getline(found, line);) {
    std::fprintf(m_session.streams.err, "tavrix-update-cli: %s\n", line.c_str());
  }
  if (m_session.options.dryRun) {
    m_stoppedBeforeProgramming = true;
    return {WizardAction::Cancel, kFlashPageId};
  }
  if (Confirm()) return {WizardAction::Next, kFlashPageId};
  m_declined = true;
  return {WizardAction::Cancel, kFlashPageId};
}

WizardEvent CConsoleSheetView::OnDonePage() {
  m_reachedDone = true;
  m_ui.Progress().Break();
  std::fprintf(m_session.streams.out, "%s\n", m_doneText.c_str());
  if (!m_outcomeText.empty()) std::fprintf(m_session.streams.out, "%s\n", m_outcomeText.c_str());
  std::fflush(m_session.streams.out);
  PrintLog();
  return {WizardAction::Finish, kDonePageId};
}
