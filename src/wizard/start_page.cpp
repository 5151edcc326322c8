#include "wizard/start_page.h"

#include <algorithm>

#include "platform/connected_device.h"
#include "platform/usb_bus.h"
#include "platform/user_interface.h"
#include "transport/stream_exception.h"
#include "updater/attached_devices.h"
#include "updater/updater.h"
#include "updater/updater_registry.h"
#include "wizard/dialog_templates.h"
#include "wizard/page_sequences.h"
#include "wizard/update_recording.h"
#include "platform/wait_cursor.h"
#include "wizard/wizard_sheet.h"
#include "wizard/wizard_sheet_view.h"
#include "wizard/wizard_state.h"

CStartPage::CStartPage() : CWizardPage(kStartPageId) {}

std::string CStartPage::IdOfLine(const std::string& line) {
  std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return {};
  std::size_t end = line.find('\t', start);
  return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool CStartPage::OnSetActive() {
  DeviceCatalog& catalog = TheWizardState().Catalog;
  // A catalog that does not load has told the person why; the page stays with an empty list.
  if (!catalog.OpenCatalog()) return true;
  std::vector<std::string> lines;
  catalog.ListDevices(lines);
  for (const std::string& line : lines) {
    m_lines.push_back(line);
    View().AddListLine(kStartPageId, kDeviceList, line);
  }
  // Entries and lines are both the catalog's Device elements in document order.
  m_entries = catalog.Entries();
  m_marks.assign(m_lines.size(), false);
  UpdateMarks();
  if (!m_lines.empty()) {
    m_selection = LineToSelectAtStart();
    View().SelectListLine(kStartPageId, kDeviceList, m_selection);
  }
  return CWizardPage::OnSetActive();
}

void CStartPage::OnDevicesChanged() { UpdateMarks(); }

void CStartPage::UpdateMarks() {
  const std::vector<AttachedDevice> devices = AttachedDevices(UsbBus());
  for (std::size_t i = 0; i < m_marks.size() && i < m_entries.size(); ++i) {
    const DeviceRecord& entry = m_entries[i];
    const bool attached = std::any_of(devices.begin(), devices.end(), [&entry](const AttachedDevice& device) {
      return EntryMatches(entry.ClassName, entry.UsbPid, device);
    });
    if (attached == m_marks[i]) continue;
    m_marks[i] = attached;
    View().MarkListLine(kStartPageId, kDeviceList, static_cast<int>(i), attached);
  }
}

int CStartPage::LineToSelectAtStart() const {
  if (std::count(m_marks.begin(), m_marks.end(), true) != 1) return 0;
  return static_cast<int>(std::find(m_marks.begin(), m_marks.end(), true) - m_marks.begin());
}

void CStartPage::OnSelectionChanged(int controlId, int index) {
  if (controlId != kDeviceList) return;
  m_selection = index >= 0 && index < static_cast<int>(m_lines.size()) ? index : -1;
}

int CStartPage::OnWizardNext() {
  CWaitCursor wait;
  if (m_selection < 0) {
    m_outcome = NextOutcome::NoSelection;
    return -1;
  }
  WizardState& state = TheWizardState();
  std::string id = IdOfLine(m_lines[static_cast<std::size_t>(m_selection)]);
  if (!state.Catalog.ReadDevice(id)) {
    m_outcome = NextOutcome::DeviceUnusable;
    UserInterface().MessageBox("Could not load device information.", MB_OK);
    return -1;
  }
  if (!CreateUpdater(state.Catalog.Record().ClassName)) {
    m_outcome = NextOutcome::UpdaterNotCreated;
    UserInterface().MessageBox("Could not create Updater.", MB_OK);
    return -1;
  }
  try {
    return ConnectAndDecide();
  } catch (const std::exception& exception) {
    m_outcome = NextOutcome::ConnectException;
    const std::string text = exception.what();
    TheWizardState().FailureException = text;
    if (const auto* link = dynamic_cast<const CStreamException*>(&exception)) {
      TheWizardState().FailureMessageId = link->MessageId();
    }
    RecordUpdateOutcome(UpdateResult::NotConnected);
    UserInterface().MessageBox(text, MB_OK);
    return -1;
  }
}

int CStartPage::ConnectAndDecide() {
  WizardState& state = TheWizardState();
  const DeviceRecord& record = state.Catalog.Record();
  CUpdater& updater = *state.Updater;
  ClearProgramExitRequest();
  BeginUpdateRecord();
  if (!updater.Connect()) {
    m_outcome = NextOutcome::NotConnected;
    RecordUpdateOutcome(UpdateResult::NotConnected);
    // "Exit Program" ends the program, as its label says; nothing was programmed.
    if (ProgramExitRequested()) Sheet()->RequestQuit();
    return -1;
  }
  state.DeviceFirmwareVersion = updater.GetFirmwareVersion();
  state.ReportedFirmwareVersion = state.DeviceFirmwareVersion;
  if (record.HasApplication) state.DeviceApplicationVersion = updater.GetApplicationVersion();
  state.ReportedApplicationVersion = state.DeviceApplicationVersion;
  bool needed = NeedsProgramming(record, state.DeviceFirmwareVersion, state.DeviceApplicationVersion);
  if (!needed && state.DebugMode) {
    // DEBUG programs an up-to-date device too: with both versions at 0 the progress page
    // finds them older than the catalog's.
    state.DeviceFirmwareVersion = 0;
    state.DeviceApplicationVersion = 0;
    needed = true;
  } else if (!needed) {
    state.DoneMessageId = 40;
    Sheet()->SetPageSequence(kUpToDateSequence, false);
  }
  Sheet()->MarkNoReturn();
  m_outcome = needed ? NextOutcome::ToFlash : NextOutcome::ToDone;
  return CWizardPage::OnWizardNext();
}
