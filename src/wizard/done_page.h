#pragma once
// The done page: the outcome (string DoneMessageId; 40 with the device's version) and Finish,
// and the updater's download log when it kept one: shown at once after a failure, where it
// says what went wrong (with the device link's message that ended the update); offered behind
// the "Show log" button after a success. Showing it writes the update's record.

#include <string>

#include "history/update_record.h"
#include "wizard/wizard_page.h"

class CDonePage : public CWizardPage {
 public:
  static constexpr int kResultText = 102;
  static constexpr int kOutcomeText = 103;
  static constexpr int kReadBackText = 23750;
  static constexpr int kCatalogVersionText = 23751;

  CDonePage();
  bool OnSetActive() override;

  // The text of control 102 for the current wizard state.
  static std::string ResultText();
  // The text of control 103: after a successful update, the device and the firmware it has
  // now, as the device reported it again or, when it was not asked again, as the catalog says.
  static std::string OutcomeText();
  // How the update ended, for its record: failed (38), programmed, or up to date when nothing
  // was programmed.
  static UpdateResult Outcome();

 private:
  void PresentDownloadLog();
};
