#pragma once
// The one program-wide state the pages and the updaters share.

#include <cstdint>
#include <memory>
#include <string>

#include "updater/device_catalog.h"
#include "updater/updater.h"

struct WizardState {
  bool DebugMode = false;
  std::uint16_t DeviceFirmwareVersion = 0;
  std::uint16_t DeviceApplicationVersion = 0;
  // The firmware version as the device reported it. DEBUG zeroes DeviceFirmwareVersion to have
  // an up-to-date device programmed; the flash page still names the version the device has.
  std::uint16_t ReportedFirmwareVersion = 0;
  std::unique_ptr<CUpdater> Updater;
  DeviceCatalog Catalog;
  int DoneMessageId = 37;
};

WizardState& TheWizardState();
// Destroys the current updater, then creates the one the catalog names for the selected entry
// as the current updater. False when none could be created.
bool CreateUpdater(const std::string& className);

// Puts the state back to its initial values (tests, and nothing else).
void ResetWizardState();
