#pragma once
// The wizard sheet: its pages, the page sequence that decides their order (a page may replace
// it to skip pages, or mark a page that cannot be returned to) and the modal run.
//
// Everything here runs on the core thread. The modal run is the wizard's event loop: it
// dispatches the sheet's posted requests (button states, auto-run messages, button presses)
// in posting order, then waits for the person's next action from the view and runs the page
// logic for it. PumpPendingMessages (wizard/message_pump.h) does the same work from inside a
// long page handler, for the actions that are harmless while work runs.

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "wizard/wizard_sheet_view.h"

class CWizardPage;

class CWizardSheet {
 public:
  // Loads the caption (string captionId, when non-zero). The bitmaps are the front end's
  // artwork; their ids are kept for it.
  CWizardSheet(IWizardSheetView& view, int captionId, int watermarkId = 0, int headerId = 0);
  virtual ~CWizardSheet();
  CWizardSheet(const CWizardSheet&) = delete;
  CWizardSheet& operator=(const CWizardSheet&) = delete;

  // Sets the page's sheet, then adds the page (not owned) after the others.
  void AddWizardPage(CWizardPage* page);

  // Replaces the sequence by a copy of the 0-terminated list `ids` (the 0 included); with
  // `resetPosition` the current position becomes 0, otherwise it stays.
  void SetPageSequence(const int* ids, bool resetPosition);
  // Sets the entry at the current position to -1: that page cannot be returned to.
  void MarkNoReturn();
  // Empty sequence: 0. Before the terminating 0: presses Finish and returns -1. Otherwise
  // moves on by one and returns the entry there.
  int NextPageId();
  // Empty sequence or position 0: 0. Otherwise moves back by one unless the previous entry
  // is 0, and returns the entry at the position.
  int PrevPageId();
  // The buttons for the current position (the rule of CWizardPage::ComputeWizardButtons).
  unsigned ComputeWizardButtons() const;
  // Shows the added page with dialog id `id`, the position moved to the first entry holding it.
  void GoToPage(int id);

  // Runs the wizard until Finish, Cancel or the close box ends it: IDOK after Finish,
  // IDCANCEL otherwise.
  int DoModal();

  // Posted requests: they take effect after the current handler, in posting order.
  void PostWizardButtons(unsigned flags);
  void PostAutoRun(CWizardPage* page);
  // Presses a button (PSWIZB_BACK, PSWIZB_NEXT or PSWIZB_FINISH), as the person would.
  void PressButton(unsigned button);
  // Immediate window state.
  void EnableCancel(bool enable);
  void CancelToClose();

  // Dispatches what waits: the posted requests, then the person's queued actions that are
  // harmless while a handler runs (list selection, About). Buttons pressed meanwhile wait
  // until the handler is over; Close is a quit request. False when a quit request was met;
  // it stays pending and ends the modal run as soon as control returns to it.
  bool PumpPendingMessages();
  // A quit request met elsewhere (the front end's own pump): the modal run ends as soon as
  // control returns to it.
  void RequestQuit() { m_quitPending = true; }
  bool IsQuitPending() const { return m_quitPending; }

  // Makes the page visible in the view (once per change of the visible page).
  void ShowPageWindow(int pageId);

  // The sheet whose modal run is active on the core thread, if any.
  static CWizardSheet* Running();

  IWizardSheetView& View() const { return m_view; }
  const std::string& Caption() const { return m_caption; }
  int WatermarkId() const { return m_watermarkId; }
  int HeaderId() const { return m_headerId; }
  int CurrentPosition() const { return m_position; }
  const std::vector<int>& PageSequence() const { return m_sequence; }
  CWizardPage* ActivePage() const;
  unsigned WizardButtons() const { return m_buttons; }
  bool IsCancelEnabled() const { return m_cancelEnabled && !m_cancelToClose; }

 protected:
  // The window is up, before the first page is shown.
  virtual void OnInitDialog();
  // A system menu command (the "Info" entry is 16).
  virtual void OnSysCommand(int command);

 private:
  struct Posted {
    enum Kind { Buttons, AutoRun, Press } kind;
    unsigned value = 0;
    CWizardPage* page = nullptr;
  };

  // The page of a Cancel pressed during work while Cancel was offered: it applies to the page
  // the work ends on.
  static constexpr int kCancelDuringWork = -1;

  int PageIndexOf(int dialogId) const;
  void SetActivePage(int index);
  void DispatchPosted(const Posted& posted);
  void HandleEvent(const WizardEvent& event);
  void HandleButton(unsigned button);
  bool IsButtonEnabled(WizardAction action) const;
  void Navigate(int result, int step);
  void EndDialog(int result);

  IWizardSheetView& m_view;
  std::string m_caption;
  int m_watermarkId;
  int m_headerId;
  std::vector<CWizardPage*> m_pages;
  std::vector<bool> m_created;
  int m_active = -1;
  int m_position = 0;
  std::vector<int> m_sequence;
  unsigned m_buttons = PSWIZB_BACK | PSWIZB_NEXT;
  bool m_cancelEnabled = true;
  bool m_cancelToClose = false;
  std::deque<Posted> m_posted;
  std::deque<WizardEvent> m_deferred;
  bool m_quitPending = false;
  std::optional<int> m_result;
  int m_shownPageId = 0;
};

// The program's sheet: no watermark or header, no help button, the icon of resource 2 and the
// "Info" entry that opens the About box.
class CMyPropertySheet : public CWizardSheet {
 public:
  static constexpr int kAboutCommand = 16;
  CMyPropertySheet(IWizardSheetView& view, int captionId);

 protected:
  void OnInitDialog() override;
  void OnSysCommand(int command) override;
};
