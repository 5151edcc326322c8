#pragma once
// What the wizard sheet and its pages show, and how the person's actions reach them.
//
// The sheet's whole logic (start-up, the modal run, every page handler and the updaters) runs
// on one thread, the core thread. A front end implements this port: it draws what the calls
// below describe and queues what the person does. Every drawing call may be delivered
// asynchronously (the core never waits for a repaint); WaitForAction blocks the core thread
// until the person does something; PollAction takes what is queued without waiting.
//
// Controls are named by the page's dialog id and the control id. The static texts of a page
// (title, labels) are resource strings DialogStringId(pageId, controlId); the controls each
// page has, with kinds and sizes in dialog units, are in wizard/dialog_templates.h. The
// sheet's own buttons read strings 12323 (Back), 12324 (Next), 12325 (Finish), 12326 (Cancel);
// the About box reads dialog 100's strings, its version line formatted with the program's
// version (TAVRIX_VERSION_TEXT) in place of %1.
//
// Until the core first sets them, Back and Next are enabled, Finish is not shown and Cancel is
// enabled. Every WizardEvent carries the page shown when the person acted; the core drops a
// button press that was made on another page than the one it now shows.
//
// A front end that watches the USB bus queues DevicesChanged among the actions when devices
// come or go; the page shown then reads the bus again.

#include <optional>
#include <string>

// The platform's wizard button bits.
enum WizardButtons : unsigned {
  PSWIZB_BACK = 0x1,
  PSWIZB_NEXT = 0x2,
  PSWIZB_FINISH = 0x4,
};

// What the person did.
enum class WizardAction {
  Back,              // the Back button
  Next,              // the Next button
  Finish,            // the Finish button
  Cancel,            // the Cancel button (or Escape)
  Close,             // the window's close box, or the program is asked to quit
  SelectionChanged,  // another line of a list box was selected (index, -1 for none)
  About,             // the About entry of the "Info" menu (string 101): show the About box
  DevicesChanged,    // not the person: USB devices came or went (any page id)
};

struct WizardEvent {
  WizardAction action = WizardAction::Cancel;
  // The page shown when the person acted. Back/Next/Finish/Cancel apply only to that page:
  // a click made on one page never lands on the page that follows it.
  int pageId = 0;
  // SelectionChanged: the list box and the newly selected line.
  int controlId = 0;
  int index = -1;
};

class IWizardSheetView {
 public:
  virtual ~IWizardSheetView() = default;

  // --- the sheet window
  // The window's title (the application's name).
  virtual void SetCaption(const std::string& caption) = 0;
  // Adds the "Info" entry (text: string 101, "Inf&o"): a menu whose About entry sends
  // WizardAction::About; the Qt window adds the update history to it.
  virtual void AddAboutEntry(const std::string& text) = 0;
  // Makes the page with this dialog id the visible one, creating it on first use with the
  // texts of its dialog template.
  virtual void ShowPage(int pageId) = 0;
  // Back/Next/Finish (PSWIZB_* bits). With PSWIZB_FINISH the Finish button takes the place of
  // Next; a button whose bit is clear is disabled.
  virtual void SetWizardButtons(unsigned flags) = 0;
  virtual void EnableCancel(bool enable) = 0;
  // The work is done and cannot be undone: Cancel is off for good.
  virtual void CancelToClose() = 0;
  // The About box: the program's name and version. Returns without waiting for it to close.
  virtual void ShowAboutBox() = 0;

  // --- controls of a page
  virtual void SetControlText(int pageId, int controlId, const std::string& text) = 0;
  virtual void ShowControl(int pageId, int controlId, bool show) = 0;
  // Draws the page at once (the core is about to block).
  virtual void RepaintPage(int pageId) = 0;

  // List box: lines may hold a tab that starts a second column.
  virtual void AddListLine(int pageId, int controlId, const std::string& line) = 0;
  // Selects a line (-1: none). The view reports the person's own choice as SelectionChanged.
  virtual void SelectListLine(int pageId, int controlId, int index) = 0;
  // Marks a line, or takes its mark away: the device the line names is attached now. The mark
  // is a picture beside the line, not a text, and leaves the line's text as it is.
  virtual void MarkListLine(int pageId, int controlId, int index, bool marked) = 0;

  // Progress bar.
  virtual void SetProgressRange(int pageId, int controlId, int lower, int upper) = 0;
  virtual void SetProgressPos(int pageId, int controlId, int position) = 0;
  // Indeterminate animation from now on.
  virtual void StartProgressMarquee(int pageId, int controlId) = 0;

  // A text the person can open from the page (the download log after an update that
  // succeeded); the view offers it with the page's "Show log" button (control 105 of the done
  // page).
  virtual void OfferLog(int pageId, const std::string& log) = 0;
  // A text the page shows at once, below its result (the download log after a failed update):
  // what went wrong is read without a further click.
  virtual void ShowLog(int pageId, const std::string& log) = 0;
  // Whether that log is a box on the page. A view that prints it after the messages it has
  // already printed (the terminal) says false: the page then leaves out what was told before.
  virtual bool HasLogBox() const { return true; }

  // --- the person's actions
  // Blocks until the person does something.
  virtual WizardEvent WaitForAction() = 0;
  // What is already queued, without waiting.
  virtual std::optional<WizardEvent> PollAction() = 0;
};
