#pragma once
// The start page: lists the catalog's device types and, on Next, reads the chosen entry,
// creates its updater, connects, reads the versions and decides whether to program. Each line
// whose device is attached to the USB bus now carries a mark, kept up to date as devices come
// and go; when exactly one entry has its device attached, that line is the one selected at
// start.

#include <string>
#include <vector>

#include "updater/device_catalog.h"
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
  void OnDevicesChanged() override;

  const std::vector<std::string>& Lines() const { return m_lines; }
  int Selection() const { return m_selection; }
  // Per line: whether its device is attached, as last read from the bus.
  const std::vector<bool>& Marks() const { return m_marks; }
  NextOutcome LastOutcome() const { return m_outcome; }

  // The Id of a list line: its first tab-separated field, leading blanks and tabs skipped.
  static std::string IdOfLine(const std::string& line);

 private:
  int ConnectAndDecide();
  // Reads the bus and marks the lines whose mark changed.
  void UpdateMarks();
  // The only marked line, or the first line when none or several are marked.
  int LineToSelectAtStart() const;

  std::vector<std::string> m_lines;
  std::vector<DeviceRecord> m_entries;  // the catalog entry of each line
  std::vector<bool> m_marks;
  int m_selection = -1;
  NextOutcome m_outcome = NextOutcome::None;
};
