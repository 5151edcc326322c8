#include "console/update_all_command.h"

#include <chrono>
#include <cstdio>
#include <set>
#include <vector>

#include "console/console_progress.h"
#include "console/console_session.h"
#include "console/console_user_interface.h"
#include "console/json_output.h"
#include "console/worker_process.h"
#include "platform/usb_bus.h"
#include "platform/text_format.h"
#include "updater/attached_devices.h"
#include "updater/updater_usb_products.h"
#include "wizard/wizard_state.h"

namespace {

using Clock = std::chrono::steady_clock;

// What one device's worker has said so far.
struct DeviceRun {
  AttachedDevice device;
  std::string phase = "starting";
  int percent = -1;
  std::string before = "?";
  std::string after = "?";
  std::string result;
  std::string cause;
  std::string lastError;  // the worker's last line on standard error
  Clock::time_point start = Clock::now();
  Clock::time_point end;
  bool ended = false;
  std::set<std::string> phasesTold;  // the shapes of the phases written as lines
};

std::string Text(const nlohmann::ordered_json& value, const char* fallback = "-") {
  return value.is_string() ? value.get<std::string>() : fallback;
}

class CAllDevicesRun {
 public:
  CAllDevicesRun(std::string id, std::vector<AttachedDevice> devices) : m_id(std::move(id)) {
    for (auto& device : devices) m_runs.push_back({std::move(device)});
  }

  int Run() {
    ConsoleSession& session = Console();
    m_terminal = session.streams.outIsTerminal && session.json == nullptr;
    std::fprintf(session.streams.err, "tavrix-update-cli: updating %zu devices of %s at the same time\n",
                 m_runs.size(), m_id.c_str());
    std::vector<std::vector<std::string>> args;
    for (const auto& run : m_runs) args.push_back(WorkerArgs(run.device.id));
    Draw();
    int signalled =
        RunWorkers(std::move(args), {[this](std::size_t i, const std::string& line) { OnOut(i, line); },
                                     [this](std::size_t i, const std::string& line) { m_runs[i].lastError = line; },
                                     [this](std::size_t i, int status) { return OnEnd(i, status); },
                                     [this] { Draw(); },
                                     [] {
                                       std::fprintf(Console().streams.err,
                                                    "tavrix-update-cli: the devices being programmed go on; "
                                                    "each stops at a safe point at a second Ctrl+C\n");
                                     }});
    Draw(true);
    PrintTable();
    int status = ExitStatus();
    return status != kExitOk && signalled != 0 ? signalled : status;
  }

 private:
  std::vector<std::string> WorkerArgs(const std::string& deviceId) const {
    const ConsoleOptions& options = Console().options;
    std::vector<std::string> args = ForwardedOptions(options);
    args.insert(args.end(), {"--json", "--yes"});
    if (options.debug) args.push_back("--debug");
    if (options.onFailure == FailureAction::Retry) args.insert(args.end(), {"--on-failure", "retry"});
    if (options.onFailure == FailureAction::Simulate) args.insert(args.end(), {"--on-failure", "simulate"});
    args.insert(args.end(), {"--retries", std::to_string(options.retries)});
    // Each worker's wire trace in a file of its own.
    if (!options.trace.empty()) args.insert(args.end(), {"--trace", options.trace + "." + deviceId});
    args.insert(args.end(), {"update", m_id, "--device", deviceId});
    if (options.dryRun) args.push_back("--dry-run");
    if (options.noVerify) args.push_back("--no-verify");
    return args;
  }

  void OnOut(std::size_t i, const std::string& line) {
    DeviceRun& run = m_runs[i];
    nlohmann::ordered_json object = nlohmann::ordered_json::parse(line, nullptr, false);
    if (object.is_discarded() || !object.is_object()) return;
    object["device_id"] = run.device.id;
    EmitJson(object);
    const std::string type = Text(object["type"], "");
    if (type == "connected") {
      run.before = Text(object["firmware"]);
      SetPhase(run, "connected, firmware " + run.before);
    } else if (type == "status") {
      SetPhase(run, OneLine(Text(object["text"], "")));
    } else if (type == "progress" && object["percent"].is_number_integer()) {
      run.percent = object["percent"].get<int>();
    } else if (type == "message") {
      // What the worker showed in a message box (a refused firmware file, a refused step) is
      // the cause, unless the result names one of its own.
      run.cause = OneLine(Text(object["text"], ""));
    } else if (type == "result") {
      run.result = Text(object["result"]);
      run.after = Text(object["firmware_after"]);
      if (object["cause"].is_string()) run.cause = OneLine(object["cause"].get<std::string>());
      if (run.cause.empty()) run.cause = Text(object["text"], "");
    }
  }

  std::optional<std::vector<std::string>> OnEnd(std::size_t i, int status) {
    DeviceRun& run = m_runs[i];
    run.ended = true;
    run.end = Clock::now();
    if (run.result.empty()) {
      // The worker ended without a result: it crashed or could not be started.
      run.result = "failed";
      run.cause = run.lastError.empty() ? FormatText("the worker ended with status %d", status) : run.lastError;
    }
    SetPhase(run, run.result);
    return std::nullopt;
  }

  // The phase shows on the device's line; off a terminal a phase of a new shape is also
  // written as a line of its own (a page counter that alternates between two texts gives two).
  void SetPhase(DeviceRun& run, const std::string& phase) {
    if (phase.empty()) return;
    run.phase = phase;
    if (m_terminal || Console().json != nullptr || !run.phasesTold.insert(Shape(phase)).second) return;
    std::fprintf(Console().streams.out, "%s: %s\n", run.device.id.c_str(), phase.c_str());
    std::fflush(Console().streams.out);
  }

  // On a terminal: one line per device, rewritten in place at most ten times a second.
  void Draw(bool last = false) {
    if (!m_terminal) return;
    auto now = Clock::now();
    if (!last && now - m_drawn < std::chrono::milliseconds(100)) return;
    m_drawn = now;
    std::FILE* out = Console().streams.out;
    if (m_linesDrawn > 0) std::fprintf(out, "\x1b[%zuA", m_linesDrawn);
    for (const auto& run : m_runs) {
      std::string percent = run.percent >= 0 && !run.ended ? FormatText(" %3d%%", run.percent) : "";
      std::fprintf(out, "\x1b[2K%-16s %s%s\n", run.device.id.c_str(), run.phase.c_str(), percent.c_str());
    }
    m_linesDrawn = m_runs.size();
    std::fflush(out);
  }

  void PrintTable() {
    ConsoleSession& session = Console();
    std::FILE* out = session.json != nullptr ? session.streams.err : session.streams.out;
    std::fprintf(out, "%-16s %-14s %-18s %s\n", "DEVICE", "FIRMWARE", "RESULT", "TIME");
    for (const auto& run : m_runs) {
      double seconds = std::chrono::duration<double>(run.end - run.start).count();
      std::fprintf(out, "%-16s %-14s %-18s %.1f s\n", run.device.id.c_str(), (run.before + " -> " + run.after).c_str(),
                   run.result.c_str(), seconds);
    }
    for (const auto& run : m_runs) {
      if (!Succeeded(run) && !run.cause.empty()) std::fprintf(out, "%s: %s\n", run.device.id.c_str(), run.cause.c_str());
    }
    std::fflush(out);
  }

  static bool Succeeded(const DeviceRun& run) {
    return run.result == "programmed" || run.result == "up to date" || run.result == "needs programming";
  }

  int ExitStatus() const {
    bool allGood = true;
    bool anyConnected = false;
    for (const auto& run : m_runs) {
      allGood = allGood && Succeeded(run);
      anyConnected = anyConnected || run.before != "?";
    }
    if (allGood) return kExitOk;
    return anyConnected ? kExitFailed : kExitNotConnected;
  }

  std::string m_id;
  std::vector<DeviceRun> m_runs;
  bool m_terminal = false;
  Clock::time_point m_drawn{};
  std::size_t m_linesDrawn = 0;
};

bool ConfirmAll(const std::string& id, std::size_t count) {
  ConsoleSession& session = Console();
  if (session.options.yes || session.options.dryRun) return true;
  if (!session.streams.inIsTerminal) {
    std::fprintf(session.streams.err, "tavrix-update-cli: programming needs confirmation; pass --yes\n");
    return false;
  }
  std::optional<std::string> answer =
      session.ui->Ask(FormatText("Program every one of the %zu devices of %s that needs it? [y/N] ", count, id.c_str()));
  return answer && !answer->empty() && ((*answer)[0] == 'y' || (*answer)[0] == 'Y');
}

}  // namespace

int RunUpdateAll(const std::string& id) {
  ConsoleSession& session = Console();
  DeviceCatalog& catalog = TheWizardState().Catalog;
  if (!catalog.OpenCatalog()) return kExitSetup;  // the message named the file
  bool known = catalog.ReadDevice(id);
  DeviceRecord record = catalog.Record();
  catalog.CloseCatalog();
  if (!known) {
    std::fprintf(session.streams.err,
                 "tavrix-update-cli: the catalog has no usable entry '%s'\ntavrix-update-cli list names every entry\n",
                 id.c_str());
    return kExitSetup;
  }
  if (UsbProductsOf(record.ClassName, record.UsbPid).empty()) {
    std::fprintf(session.streams.err,
                 "tavrix-update-cli: --all takes USB devices; update %s without --all (with --address for a "
                 "network unit)\n",
                 id.c_str());
    return kExitSetup;
  }
  std::vector<AttachedDevice> devices = AttachedDevicesOf(UsbBus(), record);
  if (devices.empty()) {
    std::fprintf(session.streams.err,
                 "tavrix-update-cli: no device of %s is attached; tavrix-update-cli devices lists what is\n",
                 id.c_str());
    return kExitNotConnected;
  }
  if (!ConfirmAll(id, devices.size())) return kExitSetup;
  return CAllDevicesRun(id, std::move(devices)).Run();
}
