#pragma once
// The done page: the outcome (string DoneMessageId; 40 with the device's version) and Finish,
// and the updater's download log when it kept one: shown at once after a failure, where it
// says what went wrong; offered behind the "Show log" button after a success.

#include <string>

#include "wizard/wizard_page.h"

class CDonePage : public CWizardPage {
 public:
  static constexpr int kResultText = 102;

  CDonePage();
  bool OnSetActive() override;

  // The text of control 102 for the current wizard state.
  static std::string ResultText();

 private:
  void PresentDownloadLog();
};
