#pragma once
// The tests' wizard view: the person's actions queued in advance, everything the sheet and its
// pages show kept as state and recorded in order.

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "wizard/wizard_sheet_view.h"

class CScriptedSheetView : public IWizardSheetView {
 public:
  using ControlKey = std::pair<int, int>;  // page id, control id

  // An action the sheet takes when it waits for the person. A page id of 0 stands for the
  // page shown at that moment.
  void Queue(WizardAction action, int pageId = 0) { m_actions.push_back({action, pageId, 0, -1}); }
  void QueueSelection(int pageId, int controlId, int index) {
    m_actions.push_back({WizardAction::SelectionChanged, pageId, controlId, index});
  }
  // An action the person takes while work runs: PollAction hands it out.
  void QueueDuringWork(WizardEvent event) { m_duringWork.push_back(event); }
  // Called each time the sheet waits, before the next queued action is taken.
  std::function<void(CScriptedSheetView&)> onWait;

  // What was shown, in order ("ShowPage 1000", "Buttons 2", "Text 1002/102 Writing", ...).
  std::vector<std::string> calls;
  // Pages in the order they were shown.
  std::vector<int> shownPages;
  // Button states in the order they were set.
  std::vector<unsigned> buttonStates;

  std::string caption;
  std::string aboutEntry;
  int aboutBoxes = 0;
  int shownPage = 0;
  unsigned buttons = PSWIZB_BACK | PSWIZB_NEXT;
  bool cancelEnabled = true;
  bool cancelToClose = false;
  std::map<ControlKey, std::string> texts;
  std::map<ControlKey, bool> visible;
  std::map<ControlKey, std::vector<std::string>> lists;
  std::map<ControlKey, int> selection;
  std::map<ControlKey, std::set<int>> marked;  // the lines that carry a mark
  std::map<ControlKey, std::pair<int, int>> ranges;
  std::map<ControlKey, std::vector<int>> positions;
  std::map<ControlKey, bool> marquee;
  std::map<int, std::string> offeredLogs;  // behind the page's button
  std::map<int, std::string> shownLogs;    // on the page itself
  int waits = 0;

  std::string Text(int pageId, int controlId) const;

  void SetCaption(const std::string& text) override;
  void AddAboutEntry(const std::string& text) override;
  void ShowPage(int pageId) override;
  void SetWizardButtons(unsigned flags) override;
  void EnableCancel(bool enable) override;
  void CancelToClose() override;
  void ShowAboutBox() override;
  void SetControlText(int pageId, int controlId, const std::string& text) override;
  void ShowControl(int pageId, int controlId, bool show) override;
  void RepaintPage(int pageId) override;
  void AddListLine(int pageId, int controlId, const std::string& line) override;
  void SelectListLine(int pageId, int controlId, int index) override;
  void MarkListLine(int pageId, int controlId, int index, bool marked) override;
  void SetProgressRange(int pageId, int controlId, int lower, int upper) override;
  void SetProgressPos(int pageId, int controlId, int position) override;
  void StartProgressMarquee(int pageId, int controlId) override;
  void OfferLog(int pageId, const std::string& log) override;
  void ShowLog(int pageId, const std::string& log) override;
  // Throws std::logic_error when nothing is queued: a test that forgot an action fails
  // instead of hanging.
  WizardEvent WaitForAction() override;
  std::optional<WizardEvent> PollAction() override;

 private:
  std::deque<WizardEvent> m_actions;
  std::deque<WizardEvent> m_duringWork;
};
