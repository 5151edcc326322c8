// tavrix-devsim: serves simulated devices on an emulated USB bus until it is told to stop.

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "platform/clock.h"
#include "sim/demo_devices.h"
#include "sim/demo_firmware.h"
#include "sim/devices/zt7720/sim_zt7720.h"
#include "sim/sim_remote_device_server.h"
#include "sim/devsim_config.h"
#include "sim/sim_bus.h"
#include "sim/sim_device_registry.h"
#include "sim/sim_error.h"

namespace {

std::filesystem::path BusDirectory(const CDevSimConfig& config) {
  if (config.Bus) return *config.Bus;
  const char* bus = std::getenv("TAVRIX_USB_BUS");
  if (bus == nullptr || *bus == '\0')
    throw CSimError("no bus directory: give --bus or TAVRIX_USB_BUS");
  return bus;
}

// The simulator is a simulated setup by its nature, so TAVRIX_WAIT_SCALE applies without
// TAVRIX_USB_BUS too.
double WaitScale(const CDevSimConfig& config) {
  if (config.WaitScale) return *config.WaitScale;
  const char* scale = std::getenv("TAVRIX_WAIT_SCALE");
  if (scale == nullptr || *scale == '\0') return 1.0;
  char* end = nullptr;
  double value = std::strtod(scale, &end);
  if (end == scale || !(value >= 0.0 && value <= 1.0)) {
    throw CSimError("TAVRIX_WAIT_SCALE: expected a number from 0 to 1");
  }
  return value;
}

void PrintKinds() {
  for (const auto& [kind, summary] : CSimDeviceRegistry::Instance().Kinds()) {
    std::cout << kind << "\t" << summary << "\n";
  }
}

int MakeFirmware(const std::filesystem::path& catalog) {
  for (const CDemoFirmwareFile& file : MakeDemoFirmware(catalog)) {
    std::cout << DescribeDemoFirmwareFile(file) << "\n";
  }
  return 0;
}

// The demo bench's devices join the ones named on the command line.
void AddDemoDevices(CDevSimConfig& config) {
  if (!config.DemoCatalog) return;
  CDemoDevicePlan plan = PlanDemoDevices(*config.DemoCatalog);
  for (const CDemoDevice& device : plan.Devices) {
    std::cout << "demo " << device.DeviceId << " " << device.Description << std::endl;
    config.Devices.push_back(device.Description);
  }
  for (const std::string& note : plan.Notes) std::cout << "demo-note " << note << std::endl;
}

int Serve(CDevSimConfig config) {
  AddDemoDevices(config);
  if (config.Devices.empty() && config.NetUnits.empty()) {
    throw CSimError("no device to serve: give --device, --demo, --net-unit or --config");
  }
  static std::unique_ptr<CScaledClock> scaledClock;
  double scale = WaitScale(config);
  if (scale < 1.0) {
    scaledClock = std::make_unique<CScaledClock>(scale);
    SetClock(scaledClock.get());
  }

  // Every thread the bus starts inherits this mask; the signals are taken below by sigwait.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // Network units alone need no bus.
  std::vector<std::unique_ptr<CSimZt7720>> units;
  for (const std::string& text : config.NetUnits) {
    std::size_t colon = text.find(':');
    if (text.substr(0, colon) != "zt7720") throw CSimError("unknown network unit kind in " + text);
    units.push_back(std::make_unique<CSimZt7720>(
        CSimZt7720::ParseOptions(colon == std::string::npos ? std::string() : text.substr(colon + 1))));
    units.back()->Start();
    if (config.TranscriptDirectory) {
      std::filesystem::create_directories(*config.TranscriptDirectory);
      const std::string name = "zt7720-" + std::to_string(units.back()->Port());
      units.back()->Transcript().WriteTo(*config.TranscriptDirectory / (name + ".transcript"), "transcript of " + name);
    }
    std::cout << "serving network unit  kind=zt7720  (" << units.back()->Describe() << ")" << std::endl;
  }
  if (config.Devices.empty()) {
    int received = 0;
    sigwait(&stopSignals, &received);
    std::cerr << "tavrix-devsim: stopping\n";
    return 0;
  }

  CSimBus bus(BusDirectory(config));
  if (config.TranscriptDirectory) bus.SetTranscriptDirectory(*config.TranscriptDirectory);
  std::unique_ptr<CSimRemoteDeviceServer> remote;
  if (config.RemoteServer) {
    std::size_t colon = config.RemoteServer->rfind(':');
    if (colon == std::string::npos) throw CSimError("--remote-server takes ADDRESS:PORT");
    remote = std::make_unique<CSimRemoteDeviceServer>(bus.Directory().string(), config.RemoteServer->substr(0, colon),
                                                      static_cast<std::uint16_t>(std::stoul(config.RemoteServer->substr(colon + 1))));
    remote->Start();
    std::cout << "serving remote device server on " << config.RemoteServer->substr(0, colon) << ":" << remote->Port()
              << std::endl;
  }
  for (const std::string& text : config.Devices) {
    CSimDeviceDescription description = ParseSimDeviceDescription(text);
    std::string kind = description.Kind;
    CSimDeviceServer& server =
        bus.Plug(CSimDeviceRegistry::Instance().Create(std::move(description)));
    std::optional<std::string> name = server.Device().FriendlyName();
    std::string summary = server.Device().Describe();
    std::cout << "serving " << server.DevicePath() << "  kind=" << kind;
    if (name) std::cout << "  name=\"" << *name << "\"";
    if (!summary.empty()) std::cout << "  (" << summary << ")";
    std::cout << std::endl;
  }

  int received = 0;
  sigwait(&stopSignals, &received);
  std::cerr << "tavrix-devsim: stopping\n";
  bus.StopAll();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    CDevSimConfig config = ParseDevSimArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (config.Help) {
      std::cout << DevSimUsage();
      return 0;
    }
    if (config.ListKinds) {
      PrintKinds();
      return 0;
    }
    if (config.MakeFirmwareCatalog) return MakeFirmware(*config.MakeFirmwareCatalog);
    return Serve(config);
  } catch (const CSimError& error) {
    std::cerr << "tavrix-devsim: " << error.what() << "\n";
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "tavrix-devsim: " << error.what() << "\n";
    return 1;
  }
}
