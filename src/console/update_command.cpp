#include "console/update_command.h"

#include <optional>

#include "console/console_session.h"
#include "console/console_sheet_view.h"
#include "console/console_user_interface.h"
#include "console/json_output.h"
#include "console/programming_signals.h"
#include "console/update_all_command.h"
#include "platform/connected_device.h"
#include "platform/selected_device_bus.h"
#include "wizard/the_app.h"
#include "wizard/wizard_state.h"

namespace {

constexpr const char* kUsage =
    "tavrix-update-cli: usage: update ID [--address HOST[:PORT] | --device DEVICE-ID | --all] [--dry-run] [--no-verify]\n";

struct UpdateArgs {
  std::string id;
  std::optional<std::string> device;
  bool all = false;
};

int ExitStatus(const CConsoleSheetView& view, CStartPage::NextOutcome startOutcome, bool catalogOpen,
               const CConsoleUserInterface& ui) {
  if (!catalogOpen || !view.IdListed()) return kExitSetup;
  if (view.ReachedDone()) return TheWizardState().DoneMessageId == 38 ? kExitFailed : kExitOk;
  if (view.StoppedBeforeProgramming()) return kExitOk;
  if (view.Declined()) return kExitSetup;
  // Several network units answered and none was chosen: the caller has to say which.
  if (ui.LastConnectOutcome() == CConsoleUserInterface::ConnectOutcome::SeveralDevices) return kExitSetup;
  // --address named nothing that can be reached (a bad port, 0.0.0.0, a host that does not
  // resolve): the command line is wrong.
  if (ui.LastConnectOutcome() == CConsoleUserInterface::ConnectOutcome::AddressRefused) return kExitSetup;
  switch (startOutcome) {
    case CStartPage::NextOutcome::NotConnected:
    case CStartPage::NextOutcome::ConnectException:
      return kExitNotConnected;
    default:
      return kExitSetup;
  }
}

// The update's result in one word, as the JSON result and the --all table name it.
std::string ResultName(const CConsoleSheetView& view, int status) {
  if (view.ReachedDone()) {
    switch (TheWizardState().DoneMessageId) {
      case 38: return CProgrammingSignals::StopStatus() != 0 ? "stopped" : "failed";
      case 40: return "up to date";
      default: return "programmed";
    }
  }
  if (view.StoppedBeforeProgramming()) return "needs programming";
  if (view.Declined()) return "not confirmed";
  return status == kExitNotConnected ? "not connected" : "not started";
}

void ReportResult(const CConsoleSheetView& view, const std::string& id, int status) {
  const WizardState& state = TheWizardState();
  const DeviceRecord& record = state.Catalog.Record();
  const std::string result = ResultName(view, status);
  const bool programmed = result == "programmed";
  std::optional<std::uint16_t> after = FirmwareReadBack(state);
  ConnectedDevice device = LastConnectedDevice();
  nlohmann::ordered_json firmwareAfter = nullptr;
  if (programmed) firmwareAfter = JsonVersion(after.value_or(record.FirmwareVersion));
  if (result == "up to date") firmwareAfter = JsonVersion(state.ReportedFirmwareVersion);
  EmitJson({{"type", "result"},
            {"catalog_id", id},
            {"device_id", device.id},
            {"device_path", device.path},
            {"result", result},
            {"exit_status", status},
            {"message_id", view.ReachedDone() ? nlohmann::ordered_json(state.DoneMessageId) : nlohmann::ordered_json(nullptr)},
            {"text", view.DoneText()},
            {"outcome", view.OutcomeText()},
            {"cause", state.FailureCause.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(state.FailureCause)},
            {"firmware_before", device.id.empty() ? nullptr : JsonVersion(state.ReportedFirmwareVersion)},
            {"firmware_after", firmwareAfter},
            {"firmware_after_read_back", programmed && after.has_value()}});
}

int RunOne(const std::string& id) {
  ConsoleSession& session = Console();
  CConsoleSheetView view(*session.ui, session, id);
  TheWizardState().VerifyAfterUpdate = !session.options.noVerify;
  CStartPage::NextOutcome startOutcome = RunUpdateWizard(view);
  bool catalogOpen = TheWizardState().Catalog.IsOpen();
  int status = ExitStatus(view, startOutcome, catalogOpen, *session.ui);
  // Stopped on request (Ctrl+C twice, SIGTERM, SIGHUP): the exit status tells which. An update
  // that ended before the request reached a safe point is whatever it became.
  if (status == kExitFailed && CProgrammingSignals::StopStatus() != 0) status = CProgrammingSignals::StopStatus();
  ReportResult(view, id, status);
  TheWizardState().Catalog.CloseCatalog();
  return status;
}

// Only the device with this id is listed, opened and reset while the update runs.
int RunOnDevice(const std::string& id, const std::string& deviceId) {
  CSelectedDeviceBus bus(UsbBus(), deviceId);
  if (!bus.IsPresent()) {
    std::fprintf(Console().streams.err,
                 "tavrix-update-cli: no device with the id '%s' is attached; tavrix-update-cli devices lists them\n",
                 deviceId.c_str());
    return kExitNotConnected;
  }
  CUsbBusScope scope(bus);
  return RunOne(id);
}

std::optional<UpdateArgs> ParseArgs(const CommandArgs& args, ConsoleOptions& options) {
  UpdateArgs parsed;
  std::vector<std::string> ids;
  auto value = [&](std::size_t& i, const std::string& name) -> std::optional<std::string> {
    if (args[i] == name && i + 1 < args.size()) return args[++i];
    if (args[i].rfind(name + "=", 0) == 0) return args[i].substr(name.size() + 1);
    return std::nullopt;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (auto address = value(i, "--address")) {
      options.address = *address;
    } else if (auto device = value(i, "--device")) {
      parsed.device = *device;
    } else if (args[i] == "--all") {
      parsed.all = true;
    } else if (args[i] == "--dry-run") {
      options.dryRun = true;
    } else if (args[i] == "--no-verify") {
      options.noVerify = true;
    } else {
      ids.push_back(args[i]);
    }
  }
  int targets = (options.address ? 1 : 0) + (parsed.device ? 1 : 0) + (parsed.all ? 1 : 0);
  if (ids.size() != 1 || targets > 1 || (options.address && options.address->empty()) ||
      (parsed.device && parsed.device->empty())) {
    return std::nullopt;
  }
  parsed.id = ids[0];
  return parsed;
}

}  // namespace

int RunUpdateCommand(const CommandArgs& args) {
  ConsoleSession& session = Console();
  std::optional<UpdateArgs> parsed = ParseArgs(args, session.options);
  if (!parsed) {
    std::fputs(kUsage, session.streams.err);
    return kExitSetup;
  }
  if (parsed->all) return RunUpdateAll(parsed->id);
  if (parsed->device) return RunOnDevice(parsed->id, *parsed->device);
  return RunOne(parsed->id);
}
