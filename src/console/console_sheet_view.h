#pragma once
// The wizard without a window: the update command drives the same sheet and pages as the Qt
// wizard does, choosing the catalog entry, confirming the flash page (--yes or a prompt) and
// finishing on the done page; the progress page's lines go to the progress display.

#include <deque>
#include <string>

#include "console/console_user_interface.h"
#include "console/programming_signals.h"
#include "wizard/wizard_sheet_view.h"

class CConsoleSheetView : public IWizardSheetView {
 public:
  CConsoleSheetView(CConsoleUserInterface& ui, ConsoleSession& session, std::string deviceId);
  ~CConsoleSheetView() override;
  CConsoleSheetView(const CConsoleSheetView&) = delete;
  CConsoleSheetView& operator=(const CConsoleSheetView&) = delete;

  bool IdListed() const { return m_idListed; }
  bool Declined() const { return m_declined; }
  bool ReachedDone() const { return m_reachedDone; }
  // --dry-run stopped at the flash page: the device needs programming and was left as it is.
  bool StoppedBeforeProgramming() const { return m_stoppedBeforeProgramming; }
  const std::string& OutcomeText() const { return m_outcomeText; }
  const std::string& DoneText() const { return m_doneText; }

  void SetCaption(const std::string&) override {}
  void AddAboutEntry(const std::string&) override {}
  // While the progress page runs, a device is being programmed: Ctrl+C warns first and stops
  // only when pressed again (see CProgrammingSignals).
  void ShowPage(int pageId) override;
  void SetWizardButtons(unsigned) override {}
  void EnableCancel(bool) override {}
  void CancelToClose() override {}
  void ShowAboutBox() override {}
  void SetControlText(int pageId, int controlId, const std::string& text) override;
  void ShowControl(int, int, bool) override {}
  void RepaintPage(int) override {}
  void AddListLine(int pageId, int controlId, const std::string& line) override;
  void SelectListLine(int, int, int) override {}
  // The terminal names its entry on the command line; the devices attached are listed by the
  // devices command.
  void MarkListLine(int, int, int, bool) override {}
  void SetProgressRange(int pageId, int controlId, int lower, int upper) override;
  void SetProgressPos(int pageId, int controlId, int position) override;
  void StartProgressMarquee(int pageId, int controlId) override;
  // The download log, offered or shown, goes to standard error under a heading once the done
  // page has printed the outcome.
  void OfferLog(int pageId, const std::string& log) override;
  void ShowLog(int pageId, const std::string& log) override;
  // Printed after the message boxes: a failure's cause has been printed there already.
  bool HasLogBox() const override { return false; }
  WizardEvent WaitForAction() override;
  // Nothing arrives while the core works: the terminal has no buttons.
  std::optional<WizardEvent> PollAction() override { return std::nullopt; }

 private:
  WizardEvent OnStartPage();
  WizardEvent OnFlashPage();
  WizardEvent OnDonePage();
  bool Confirm();
  void PrintLog();
  // The device answered: its versions as JSON, and on a bus with several devices of the type
  // which one this is.
  void ReportConnected(int nextPage);

  CConsoleUserInterface& m_ui;
  ConsoleSession& m_session;
  std::string m_deviceId;
  int m_page = 0;
  std::vector<std::string> m_lines;
  std::deque<WizardEvent> m_pending;
  bool m_triedNext = false;
  bool m_idListed = false;
  bool m_declined = false;
  bool m_reachedDone = false;
  bool m_stoppedBeforeProgramming = false;
  int m_lastPosition = -1;
  std::string m_doneText;
  std::string m_outcomeText;
  std::string m_log;
  CProgrammingSignals m_signals;
};
