#pragma once
// The start page: lists the catalog's device types and, on Next, reads the chosen entry,
// creates its updater, connects, reads the versions and decides whether to program.

#include <string>
#include <vector>

#include "wizard/wizard_page.h"

class CStartPage : public CWizardPage {
 public:
  static constexpr int kDeviceList = 401;

  // How the last Next ended (front ends and tests read it; the page itself does not).
  enum class NextOutcome {
    None,               // Next was not pressed yet
    NoSelection,        // no line selected: stay
    DeviceUnusable,     // "Could not load device information."
    UpdaterNotCreated,  // "Could not create Updater."
    NotConnected,       // Connect returned false
    ConnectException,   // an exception while connecting or reading versions
    ToFlash,            // programming needed (or DEBUG)
    ToDone,             // up to date
  };

  CStartPage();

  bool OnSetActive() override;
  int OnWizardNext() override;
  void OnSelectionChanged(int controlId, int index) override;

  const std::vector<std::string>& Lines() const { return m_lines; }
  int Selection() const { return m_selection; }
  NextOutcome LastOutcome() const { return m_outcome; }

  // The Id of a list line: its first tab-separated field, leading blanks and tabs skipped.
  static std::string IdOfLine(const std::string& line);

 private:
  int ConnectAndDecide();

  std::vector<std::string> m_lines;
  int m_selection = -1;
  NextOutcome m_outcome = NextOutcome::None;
};
