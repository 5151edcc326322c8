#include "sim/devsim_config.h"

#include <cstdlib>
#include <fstream>
#include <functional>

#include "sim/sim_error.h"

namespace {

double ParseWaitScale(const std::string& text) {
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(value >= 0.0 && value <= 1.0)) {
    throw CSimError("wait scale " + text + ": expected a number from 0 to 1");
  }
  return value;
}

// Applies one setting by its long name; false for an unknown name.
// A file cannot name another file, so no file can read itself without end.
bool ApplySetting(const std::string& name, const std::string& value, CDevSimConfig& config,
                  bool fromFile) {
  if (name == "bus") {
    config.Bus = value;
  } else if (name == "transcript") {
    config.TranscriptDirectory = value;
  } else if (name == "wait-scale") {
    config.WaitScale = ParseWaitScale(value);
  } else if (name == "device") {
    config.Devices.push_back(value);
  } else if (name == "net-unit") {
    config.NetUnits.push_back(value);
  } else if (name == "remote-server") {
    config.RemoteServer = value;
  } else if (name == "config" && !fromFile) {
    ReadDevSimConfigFile(value, config);
  } else if (name == "demo") {
    config.DemoCatalog = value;
  } else if (name == "make-firmware" && !fromFile) {
    config.MakeFirmwareCatalog = value;
  } else {
    return false;
  }
  return true;
}

std::string Trim(const std::string& text) {
  std::size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return {};
  std::size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

}  // namespace

CDevSimConfig ParseDevSimArguments(const std::vector<std::string>& args) {
  CDevSimConfig config;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      config.Help = true;
      continue;
    }
    if (arg == "--list-kinds") {
      config.ListKinds = true;
      continue;
    }
    if (arg.rfind("--", 0) != 0) throw CSimError("unexpected argument " + arg + " (see --help)");
    std::string name = arg.substr(2);
    std::string value;
    if (std::size_t equals = name.find('='); equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      throw CSimError("option " + arg + " needs a value");
    }
    if (!ApplySetting(name, value, config, false))
      throw CSimError("unknown option " + arg + " (see --help)");
  }
  return config;
}

void ReadDevSimConfigFile(const std::filesystem::path& path, CDevSimConfig& config) {
  std::ifstream file(path);
  if (!file) throw CSimError("cannot read the configuration file " + path.string());
  std::string line;
  int number = 0;
  bool lastWasDevice = false;
  while (std::getline(file, line)) {
    ++number;
    std::string text = Trim(line);
    if (text.empty() || text[0] == '#') continue;
    auto fail = [&](const std::string& what) {
      throw CSimError(path.string() + ":" + std::to_string(number) + ": " + what);
    };
    if (line[0] == ' ' || line[0] == '\t') {
      if (!lastWasDevice) fail("an indented line continues a device line, but none is above");
      std::string& device = config.Devices.back();
      if (!device.empty() && device.back() != ',' && device.back() != ':') device += ',';
      device += text;
      continue;
    }
    std::size_t blank = text.find_first_of(" \t");
    std::string name = text.substr(0, blank);
    std::string value = blank == std::string::npos ? std::string() : Trim(text.substr(blank));
    if (value.empty()) fail(name + " needs a value");
    try {
      if (!ApplySetting(name, value, config, true)) fail("unknown setting " + name);
    } catch (const CSimError& error) {
      if (std::string(error.what()).rfind(path.string() + ":", 0) == 0) throw;
      fail(error.what());
    }
    lastWasDevice = name == "device";
  }
}

std::string DevSimUsage() {
  return R"(Usage: tavrix-devsim [options]
Serves simulated devices on an emulated USB bus until SIGINT or SIGTERM, then removes their
sockets and .name files. Prints one line per device it serves.

Options (also --name=value):
  --bus DIR            the bus directory (default: $TAVRIX_USB_BUS); created when missing
  --device KIND:OPTIONS
                       a device to serve, repeatable: KIND:key=value,key=value,...
  --net-unit zt7720:OPTIONS
                       a simulated ZT7720 network unit, repeatable. OPTIONS: type=7720|7721
                       (4K or 4M), firmware=N, address=A (default 127.0.0.1), port=N (default
                       502, 0 any), discovery (answer searches on UDP 17008 of every
                       interface), name=TEXT, model=TEXT (another model code), drop_at_block=K,
                       refuse_block=K (the same as refuse_ack=K), and the faults of every
                       kind below (refuse_ack ... identity). Needs no bus; with --transcript
                       its transcript is DIR/zt7720-<port>.transcript.
  --remote-server ADDRESS:PORT
                       a remote device server that forwards the bus's devices over TCP, the
                       device named in the open request by its friendly name
  --config FILE        read settings from FILE at this point of the command line
  --transcript DIR     write each device's transcript to DIR/<device path>.transcript
  --wait-scale F       multiply every device-side wait by F, 0..1 (default: $TAVRIX_WAIT_SCALE or 1)
  --list-kinds         list the device kinds and exit
  --demo CATALOG       also serve one device of every family the device catalog CATALOG
                       names, five hundredths behind its Version; prints "demo ID KIND:OPTIONS"
                       for each, and "demo-note ..." for the entries left out
  --make-firmware CATALOG
                       write the demo firmware files the device catalog CATALOG names (its
                       File paths, relative to its folder, with its Version) and exit; a
                       file that already holds the image is left alone. One line per device:
                       wrote, unchanged or skipped (no demo firmware for its updater class)
  -h, --help           this text

Values in the OPTIONS may be double-quoted to hold commas and blanks (escapes \" and \\);
a key without "=" means key=1. Options of every kind:
  pid=N vid=N          product and vendor id (decimal or 0x..)
  serial=TEXT          letters, digits, - and _ (default SIM<n>)
  gen=1|2              driver generation, selects the interface class
  name=TEXT            friendly name in the .name file; name= (empty) writes none
  away_ms=N            time off the bus after an eject (default 1000, scaled)
  refuse_ack=K         answer the K-th acknowledgement with "?" (repeatable)
  garble_ack=K         answer the K-th acknowledgement with "~", which means nothing (repeatable)
  close_after=N        drop the connection once N bytes came in (once)
  stall_after=N        stop answering once N bytes came in (once; until the host closes)
  identity=TEXT        answer the identity question with TEXT

Kind "scripted": rule=MATCH>REPLY, repeatable. MATCH and REPLY are byte scripts:
  1F 0a   hex bytes      'text'  text bytes (\' \\ \0 \n \r \t \xHH)
  *  *N   any byte(s), in MATCH only
  !       acknowledgement ("!" or, refused, "?")   |  end of packet   ~N  wait N ms
  e.g. --device "scripted:pid=0x7d2a,gen=1,name=Demo,rule=02>'ZR6618-7D 1.07'00,rule=0B>03"

Configuration file: one setting per line, "bus DIR", "transcript DIR", "wait-scale F",
"demo CATALOG", "device KIND:OPTIONS"; a line beginning with a blank continues the device above it (joined
with a comma); lines beginning with # are comments.
)";
}
