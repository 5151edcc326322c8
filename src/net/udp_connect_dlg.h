#pragma once
// The "Connect" dialog: the person finds the network units of the wanted type, picks one or
// types an address, and confirms. The TCP/IP updater connects to what was confirmed. Only the
// behaviour lives here; the front ends draw it and forward what the person does.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/udp_discovery.h"

class CUdpConnectDlg {
 public:
  static constexpr int kTemplateId = 20005;
  static constexpr int kAvailableLabel = 101;
  static constexpr int kAddressLabel = 102;
  static constexpr int kAddressEdit = 151;
  static constexpr int kFindButton = 201;
  static constexpr int kIdentifyButton = 202;
  static constexpr int kConfigurationButton = 203;
  static constexpr int kDeviceList = 401;
  static constexpr int kOkButton = 1;
  static constexpr int kCancelButton = 2;

  CUdpConnectDlg(std::uint16_t deviceType, std::uint16_t configurationType,
                 CNotifySinkTrace* traceSink = nullptr);

  // Set by the caller before the dialog runs; the address is read back after OK.
  std::string address;
  std::uint16_t port = 0;
  bool configurationAllowed = true;

  std::string Text(int controlId) const;
  std::uint16_t DeviceType() const { return m_deviceType; }
  bool IsConfigurationVisible() const { return m_configurationType != 0 && configurationAllowed; }
  bool IsIdentifyEnabled() const { return m_selection >= 0; }
  int Selection() const { return m_selection; }

  // "Find Devices": a search for the device type, the list rebuilt from its answers. The
  // search blocks for about a second per interface; a front end that must stay responsive
  // runs Search on a worker and ShowFound on its own thread afterwards.
  void FindDevices();
  void Search();
  void ShowFound();
  // "<name> (<dotted IP>)" for each unit found.
  const std::vector<std::string>& ListItems() const { return m_items; }
  // The person picked list item `index` (-1 for none): the address becomes its IP.
  void Select(int index);
  // "Identify": the selected unit is asked to make itself known; nothing without a selection.
  void Identify();
  // "OK" with the address field's text: IDOK when it names a host, nothing (and a message
  // box) when it is empty, the unspecified address (0.0.0.0, the preset) or does not resolve.
  std::optional<int> PressOk(const std::string& addressText);
  int Cancel() const;

  int DoModal();
  CUdpDiscovery& Discovery() { return m_discovery; }

 private:
  std::uint16_t m_deviceType;
  std::uint16_t m_configurationType;
  CUdpDiscovery m_discovery;
  std::vector<std::string> m_items;
  int m_selection = -1;
};

// Whether `host` is written as the unspecified address (0.0.0.0 in any numeric form, or ::),
// which names no remote unit: on this system a connection to it reaches the local host.
bool IsUnspecifiedAddress(const std::string& host);

// The system's text for a host name that does not resolve as a TCP host; empty when it does.
std::string HostResolveError(const std::string& host);
