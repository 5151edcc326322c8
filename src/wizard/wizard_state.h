#pragma once
// The one program-wide state the pages and the updaters share.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/usb_bus.h"
#include "updater/device_catalog.h"
#include "updater/updater.h"

struct WizardState {
  bool DebugMode = false;
  std::uint16_t DeviceFirmwareVersion = 0;
  std::uint16_t DeviceApplicationVersion = 0;
  // The firmware version as the device reported it. DEBUG zeroes DeviceFirmwareVersion to have
  // an up-to-date device programmed; the flash page still names the version the device has.
  std::uint16_t ReportedFirmwareVersion = 0;
  std::uint16_t ReportedApplicationVersion = 0;  // likewise for the application
  std::unique_ptr<CUpdater> Updater;
  DeviceCatalog Catalog;
  int DoneMessageId = 37;
  // Set when the progress page's update returned success.
  bool Updated = false;
  // Why the update failed, when a device-link failure ended it (already shown in a message
  // box); empty otherwise.
  std::string FailureCause;
  // The message number of that cause, or of the exception that ended the update, and the
  // exception's text: the update's record keeps them. 0 and empty when none.
  int FailureMessageId = 0;
  std::string FailureException;
  // When the update being recorded began (the start page's connect); nothing once its record
  // is written, or before any update.
  std::optional<std::chrono::system_clock::time_point> UpdateBegan;
  // Whether a programming that reported success is checked by meeting the device again (the
  // terminal's --no-verify turns it off).
  bool VerifyAfterUpdate = true;
  // The versions the device reported when it was met again after its programming; nothing
  // when it was not (no programming, no check, or the device did not come back).
  std::optional<std::uint16_t> VerifiedFirmwareVersion;
  std::optional<std::uint16_t> VerifiedApplicationVersion;
  // The warning given when the update's record could not be written; the done page's log
  // keeps it in sight.
  std::string HistoryWarning;
};

WizardState& TheWizardState();
// Destroys the current updater, then creates the one the catalog names for the selected entry
// as the current updater. False when none could be created.
bool CreateUpdater(const std::string& className);

// The firmware version the device reported after its programming: the check's, else what an
// updater that meets the device again on its own read; nothing when the device was not asked.
std::optional<std::uint16_t> FirmwareReadBack(const WizardState& state);

// Puts the state back to its initial values (tests, and nothing else).
void ResetWizardState();

// The USB bus of one program run, held by main() around everything else. The wizard's state is
// program-wide and would outlive a bus made on first use; its updater can still hold a device
// open at exit (up to date, after some downloads, Cancel on the flash page). So the order is
// made explicit here: on the way out the updater, and with it every transport it owns, is
// destroyed first, then the bus is put out of use and destroyed. The driver library is never
// shut down under an open handle.
class CProgramBus {
 public:
  // Installs `bus` as the bus in use for the lifetime of this object.
  explicit CProgramBus(std::unique_ptr<IUsbBus> bus);
  ~CProgramBus();
  CProgramBus(const CProgramBus&) = delete;
  CProgramBus& operator=(const CProgramBus&) = delete;

 private:
  std::unique_ptr<IUsbBus> m_bus;
  CUsbBusScope m_scope;  // declared after m_bus: uninstalled before the bus is destroyed
};
