#pragma once
// How the wizard meets SIGTERM, SIGHUP (the terminal it was started from closed) and SIGINT
// (Ctrl+C in that terminal). A handler only writes the signal's number into a pipe; the GUI
// thread reads it there and decides, so that nothing but write() runs inside the handler.
//
// Outside programming a signal ends the wizard at once: nothing is being written to a device.
// While a device is programmed it takes the road of a quit request, as the session ending
// does: the quit is posted and the wizard ends once the update is over, with the done page's
// record written. Unlike the close box it does not wait for the whole download: whoever sends
// SIGTERM (a shutdown, a logout, a supervisor) gives a deadline it does not tell and then
// kills, which would cut a transfer in mid-unit with nobody told. So the update is asked to
// stop at its next safe point, as the terminal front end does; the cause (23760) says that the
// device did not get all of its firmware, and the history keeps it. A first Ctrl+C only warns
// (a person in a terminal may press it by mistake); a second one stops like SIGTERM.
// Exit status: 130 after SIGINT, 143 after SIGTERM and SIGHUP, as tavrix-update-cli's.
// A signal the wizard was started with ignored (nohup, a background job) stays ignored.

#include <QSocketNotifier>
#include <memory>

class CQtUserInterface;
class CQtWizardSheetView;
class CWizardWindow;

class CWizardSignals {
 public:
  // Installs the handlers for the lifetime of the object; construct on the GUI thread.
  CWizardSignals(CWizardWindow& window, CQtUserInterface& ui, CQtWizardSheetView& view);
  ~CWizardSignals();
  CWizardSignals(const CWizardSignals&) = delete;
  CWizardSignals& operator=(const CWizardSignals&) = delete;

  // The exit status of a wizard a signal ended: 130 or 143; 0 when none did.
  int ExitStatus() const { return m_status; }

 private:
  void Dispatch();
  void OnSignal(int signal);

  CWizardWindow& m_window;
  CQtUserInterface& m_ui;
  CQtWizardSheetView& m_view;
  std::unique_ptr<QSocketNotifier> m_notifier;
  int m_interrupts = 0;
  int m_status = 0;
};
