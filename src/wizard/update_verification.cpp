#include "wizard/update_verification.h"

#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"
#include "transport/stream_exception.h"
#include "updater/flash_progress.h"
#include "updater/updater.h"
#include "wizard/wizard_state.h"

bool CUpdateVerification::Run() {
  WizardState& state = TheWizardState();
  const DeviceRecord& record = state.Catalog.Record();
  state.VerifiedFirmwareVersion.reset();
  state.VerifiedApplicationVersion.reset();
  if (m_progress != nullptr) {
    m_progress->SetMarquee();
    m_progress->SetStatusText("%s", LoadResString(kCheckingText).c_str());
  }
  const std::string notBack = FormatMessage(LoadResString(kNotBackMessage), {record.Id});
  try {
    if (!state.Updater->ConnectAgain()) return Fail(kNotBackMessage, notBack);
    state.VerifiedFirmwareVersion = state.Updater->GetFirmwareVersion();
    if (record.HasApplication) state.VerifiedApplicationVersion = state.Updater->GetApplicationVersion();
  } catch (const CStreamException& error) {
    std::string cause;
    error.GetErrorMessage(cause);
    return Fail(kNotBackMessage, cause.empty() ? notBack : notBack + "\n" + cause);
  } catch (const std::exception& exception) {
    return Fail(kNotBackMessage, notBack + "\n" + exception.what());
  }
  // The firmware is programmed whenever the update runs, except where the entry has an
  // application too: there only a firmware older than the catalog's is.
  const bool firmwareProgrammed = !record.HasApplication || state.ReportedFirmwareVersion < record.FirmwareVersion;
  const bool applicationProgrammed = record.HasApplication && state.ReportedApplicationVersion < record.ApplicationVersion;
  return Matches(firmwareProgrammed, *state.VerifiedFirmwareVersion, record.FirmwareVersion, kWrongFirmwareMessage) &&
         Matches(applicationProgrammed, state.VerifiedApplicationVersion.value_or(0), record.ApplicationVersion,
                 kWrongApplicationMessage);
}

bool CUpdateVerification::Matches(bool programmed, std::uint16_t found, std::uint16_t expected, int messageId) {
  if (!programmed || found == expected) return true;
  const std::string& id = TheWizardState().Catalog.Record().Id;
  return Fail(messageId, FormatMessage(LoadResString(messageId), {id, FormatVersion(found), FormatVersion(expected)}));
}

bool CUpdateVerification::Fail(int messageId, const std::string& text) {
  WizardState& state = TheWizardState();
  state.FailureMessageId = messageId;
  state.FailureCause = text;
  UserInterface().MessageBox(text, MB_OK | MB_ICONERROR);
  return false;
}
