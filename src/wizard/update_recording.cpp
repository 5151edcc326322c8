#include "wizard/update_recording.h"

#include "history/history_writer.h"
#include "platform/connected_device.h"
#include "platform/front_end.h"
#include "platform/sha256.h"
#include "platform/string_table.h"
#include "platform/shown_failure.h"
#include "updater/device_catalog.h"
#include "updater/updater.h"
#include "wizard/wizard_state.h"

namespace {

constexpr int kFailedText = 38;

// The versions before and after, as far as the outcome tells them. A programmed device has
// what it reported when it was met again, else the catalog's version of each part it was
// older in; a failed one has what it reported when met again, if it was.
void FillVersions(UpdateRecord& record, const WizardState& state) {
  const DeviceRecord& entry = state.Catalog.Record();
  if (record.result == UpdateResult::NotConnected) return;
  record.firmwareBefore = state.ReportedFirmwareVersion;
  if (entry.HasApplication) record.applicationBefore = state.ReportedApplicationVersion;
  if (record.result == UpdateResult::UpToDate) {
    record.firmwareAfter = record.firmwareBefore;
    record.applicationAfter = record.applicationBefore;
  } else if (record.result == UpdateResult::Programmed) {
    const bool firmwareProgrammed = state.DeviceFirmwareVersion < entry.FirmwareVersion;
    record.firmwareAfter = FirmwareReadBack(state).value_or(firmwareProgrammed ? entry.FirmwareVersion : state.ReportedFirmwareVersion);
    if (entry.HasApplication) {
      const bool applicationProgrammed = state.DeviceApplicationVersion < entry.ApplicationVersion;
      record.applicationAfter = state.VerifiedApplicationVersion.value_or(
          applicationProgrammed ? entry.ApplicationVersion : state.ReportedApplicationVersion);
    }
  } else if (record.result == UpdateResult::Failed) {
    // A device met again after its programming said what it has; otherwise nothing is known.
    record.firmwareAfter = state.VerifiedFirmwareVersion;
    record.applicationAfter = state.VerifiedApplicationVersion;
  }
}

// The cause of a failure: the device link's message from the exception that ended the
// update, an exception's text, the error the updater showed before it gave up (a link
// failure, an image that was not sent), else the done page's own failure text.
void FillCause(UpdateRecord& record, const WizardState& state) {
  if (record.result != UpdateResult::Failed && record.result != UpdateResult::NotConnected) return;
  if (state.FailureMessageId != 0) record.messageId = state.FailureMessageId;
  const std::optional<ShownFailure> shown = LastShownFailure();
  if (!state.FailureCause.empty()) {
    record.message = state.FailureCause;
  } else if (!state.FailureException.empty()) {
    record.message = state.FailureException;
  } else if (shown) {
    if (shown->messageId != 0) record.messageId = shown->messageId;
    record.message = shown->text;
  } else if (record.result == UpdateResult::Failed) {
    record.messageId = kFailedText;
    record.message = LoadResString(kFailedText);
  }
}

}  // namespace

void BeginUpdateRecord() {
  WizardState& state = TheWizardState();
  ForgetConnectedDevice();
  ForgetShownFailure();
  state.UpdateBegan = std::chrono::system_clock::now();
  state.FailureCause.clear();
  state.FailureMessageId = 0;
  state.FailureException.clear();
  state.HistoryWarning.clear();
  state.VerifiedFirmwareVersion.reset();
  state.VerifiedApplicationVersion.reset();
}

UpdateRecord RecordOfUpdate(UpdateResult result) {
  const WizardState& state = TheWizardState();
  const DeviceRecord& entry = state.Catalog.Record();
  const auto now = std::chrono::system_clock::now();
  UpdateRecord record;
  record.started = IsoUtcTime(state.UpdateBegan.value_or(now));
  record.ended = IsoUtcTime(now);
  record.catalogId = entry.Id;
  const ConnectedDevice device = LastConnectedDevice();
  record.deviceId = device.id;
  record.devicePath = device.path;
  record.result = result;
  FillVersions(record, state);
  FillCause(record, state);
  record.catalogFile = DeviceCatalog::CatalogPath();
  record.imageSha256 = Sha256OfFile(entry.FirmwarePath).value_or(std::string());
  record.frontEnd = FrontEndName();
  record.frontEndVersion = TAVRIX_VERSION_TEXT;
  record.host = HostName();
  return record;
}

void RecordUpdateOutcome(UpdateResult result) {
  WizardState& state = TheWizardState();
  if (!state.UpdateBegan) return;
  const UpdateRecord record = RecordOfUpdate(result);
  state.UpdateBegan.reset();
  state.HistoryWarning = WriteToHistory(record);
}
