#include "console/discover_command.h"

#include <cstdio>
#include <cstdlib>

#include "console/console_session.h"
#include "console/json_output.h"
#include "net/socket_login_dlg.h"
#include "net/udp_connect_dlg.h"

int RunDiscoverCommand(const CommandArgs& args) {
  ConsoleSession& session = Console();
  std::uint16_t type = 7720;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string value;
    if (args[i] == "--type" && i + 1 < args.size()) value = args[++i];
    else if (args[i].rfind("--type=", 0) == 0) value = args[i].substr(7);
    std::optional<std::uint16_t> parsed = value.empty() ? std::nullopt : CSocketLoginDlg::ParsePort(value);
    if (!parsed || value.size() > 5 || std::strtoul(value.c_str(), nullptr, 10) > 0xFFFF) {
      std::fprintf(session.streams.err, "tavrix-update-cli: usage: discover [--type N]  (N from 0 to 65535)\n");
      return kExitSetup;
    }
    type = *parsed;
  }
  // The Connect dialog's own search and list text, so that both show a unit the same way.
  CUdpConnectDlg dialog(type, 0);
  dialog.FindDevices();
  const auto& devices = dialog.Discovery().Devices();
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (JsonMode()) {
      EmitJson({{"type", "unit"},
                {"name", devices[i]->DisplayName()},
                {"address", devices[i]->IpText()},
                {"hardware_address", devices[i]->HardwareAddressText()},
                {"device_type", devices[i]->DeviceType}});
      continue;
    }
    std::fprintf(session.streams.out, "%s\t%s\t%u\n", dialog.ListItems()[i].c_str(),
                 devices[i]->HardwareAddressText().c_str(), devices[i]->DeviceType);
  }
  std::fflush(session.streams.out);
  if (!devices.empty()) return kExitOk;
  std::fprintf(session.streams.err, "tavrix-update-cli: no device of type %u answered\n", type);
  return kExitNotConnected;
}
