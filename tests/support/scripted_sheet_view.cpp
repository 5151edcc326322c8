#include "support/scripted_sheet_view.h"

#include <stdexcept>

namespace {
std::string Key(int pageId, int controlId) { return std::to_string(pageId) + "/" + std::to_string(controlId); }
}  // namespace

std::string CScriptedSheetView::Text(int pageId, int controlId) const {
  auto it = texts.find({pageId, controlId});
  return it == texts.end() ? std::string() : it->second;
}

void CScriptedSheetView::SetCaption(const std::string& text) {
  caption = text;
  calls.push_back("Caption " + text);
}

void CScriptedSheetView::AddAboutEntry(const std::string& text) {
  aboutEntry = text;
  calls.push_back("AboutEntry " + text);
}

void CScriptedSheetView::ShowPage(int pageId) {
  shownPage = pageId;
  shownPages.push_back(pageId);
  calls.push_back("ShowPage " + std::to_string(pageId));
}

void CScriptedSheetView::SetWizardButtons(unsigned flags) {
  buttons = flags;
  buttonStates.push_back(flags);
  calls.push_back("Buttons " + std::to_string(flags));
}

void CScriptedSheetView::EnableCancel(bool enable) {
  cancelEnabled = enable;
  calls.push_back(enable ? "EnableCancel" : "DisableCancel");
}

void CScriptedSheetView::CancelToClose() {
  cancelToClose = true;
  calls.push_back("CancelToClose");
}

void CScriptedSheetView::ShowAboutBox() {
  ++aboutBoxes;
  calls.push_back("AboutBox");
}

void CScriptedSheetView::SetControlText(int pageId, int controlId, const std::string& text) {
  texts[{pageId, controlId}] = text;
  calls.push_back("Text " + Key(pageId, controlId) + " " + text);
}

void CScriptedSheetView::ShowControl(int pageId, int controlId, bool show) {
  visible[{pageId, controlId}] = show;
  calls.push_back((show ? "Show " : "Hide ") + Key(pageId, controlId));
}

void CScriptedSheetView::RepaintPage(int pageId) { calls.push_back("Repaint " + std::to_string(pageId)); }

void CScriptedSheetView::AddListLine(int pageId, int controlId, const std::string& line) {
  lists[{pageId, controlId}].push_back(line);
  calls.push_back("AddLine " + Key(pageId, controlId) + " " + line);
}

void CScriptedSheetView::SelectListLine(int pageId, int controlId, int index) {
  selection[{pageId, controlId}] = index;
  calls.push_back("Select " + Key(pageId, controlId) + " " + std::to_string(index));
}

void CScriptedSheetView::MarkListLine(int pageId, int controlId, int index, bool on) {
  if (on) {
    marked[{pageId, controlId}].insert(index);
  } else {
    marked[{pageId, controlId}].erase(index);
  }
  calls.push_back("Mark " + Key(pageId, controlId) + " " + std::to_string(index) + (on ? " on" : " off"));
}

void CScriptedSheetView::SetProgressRange(int pageId, int controlId, int lower, int upper) {
  ranges[{pageId, controlId}] = {lower, upper};
  calls.push_back("Range " + Key(pageId, controlId) + " " + std::to_string(lower) + ".." + std::to_string(upper));
}

void CScriptedSheetView::SetProgressPos(int pageId, int controlId, int position) {
  positions[{pageId, controlId}].push_back(position);
  calls.push_back("Pos " + Key(pageId, controlId) + " " + std::to_string(position));
}

void CScriptedSheetView::StartProgressMarquee(int pageId, int controlId) {
  marquee[{pageId, controlId}] = true;
  calls.push_back("Marquee " + Key(pageId, controlId));
}

void CScriptedSheetView::OfferLog(int pageId, const std::string& log) {
  offeredLogs[pageId] = log;
  calls.push_back("OfferLog " + std::to_string(pageId));
}

void CScriptedSheetView::ShowLog(int pageId, const std::string& log) {
  shownLogs[pageId] = log;
  calls.push_back("ShowLog " + std::to_string(pageId));
}

WizardEvent CScriptedSheetView::WaitForAction() {
  ++waits;
  if (onWait) onWait(*this);
  if (m_actions.empty()) throw std::logic_error("the scripted wizard view ran out of actions");
  WizardEvent event = m_actions.front();
  m_actions.pop_front();
  if (event.pageId == 0) event.pageId = shownPage;
  return event;
}

std::optional<WizardEvent> CScriptedSheetView::PollAction() {
  if (m_duringWork.empty()) return std::nullopt;
  WizardEvent event = m_duringWork.front();
  m_duringWork.pop_front();
  if (event.pageId == 0) event.pageId = shownPage;
  return event;
}
