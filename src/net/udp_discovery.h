#pragma once
// Finding the network units without knowing their address: a 180-byte datagram goes out as a
// broadcast on every local IPv4 interface, from port 17009 to 255.255.255.255:17008, and the
// units answer to port 17009 with their hardware address, IP address, subnet mask, device
// type and name.
//
// Datagram (both ways, 180 bytes, network byte order unless said):
//   0  "QX"        2  0x01 (answers: a second command byte, traced only)
//   3  command: 0x80 search, 0x81 identify; answers 0x91
//   4  device type, little-endian     6  hardware address (identify: the target's)
//   12 IP address   16 subnet mask    20 name, UTF-16LE, zero-terminated (160 bytes)

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/socket_client.h"

// One unit found by discovery.
struct CSocketDeviceInfo {
  std::array<std::uint8_t, 6> HardwareAddress{};
  std::uint32_t IpAddress = 0;     // network byte order
  std::uint32_t SubnetMask = 0;    // network byte order; 0 when the unit reported none
  std::uint16_t DeviceType = 0;
  std::u16string Name;             // at most 80 units, never more than the datagram holds
  std::uint32_t LocalAddress = 0;  // the PC's interface address of the pass that found it

  std::string IpText() const;
  std::string SubnetMaskText() const;
  // "02-00-00-00-77-20"
  std::string HardwareAddressText() const;
  // The name for a list or a terminal: UTF-8, control characters shown as "?".
  std::string DisplayName() const;
};

// One local IPv4 interface that discovery sends on.
struct CLocalInterface {
  std::string Name;
  std::uint32_t Address = 0;  // network byte order
};

// The interfaces that are up, have an IPv4 address and are not loopback (getifaddrs).
std::vector<CLocalInterface> LocalIpv4Interfaces();

// Dotted text of an address in network byte order.
std::string DottedAddress(std::uint32_t address);

class CUdpDiscovery {
 public:
  static constexpr std::size_t kDatagramSize = 180;
  static constexpr std::size_t kNameOffset = 20;
  static constexpr std::size_t kMaxNameUnits = 80;
  static constexpr std::uint8_t kSearch = 0x80;
  static constexpr std::uint8_t kIdentify = 0x81;
  static constexpr std::uint8_t kAnnouncement = 0x91;
  using Datagram = std::array<std::uint8_t, kDatagramSize>;

  // Without a sink the object makes its own, which discards the trace.
  explicit CUdpDiscovery(CNotifySinkTrace* traceSink = nullptr);

  std::uint16_t LocalPort() const { return m_localPort; }
  std::uint16_t DevicePort() const { return m_devicePort; }
  int DeviceType() const { return m_deviceType; }

  // Sends the datagram on every local interface; false when a socket failed (the interfaces
  // after it get nothing).
  bool Broadcast(const Datagram& datagram);
  // One search pass per local interface; the units found are in Devices(), each once.
  void Search(std::uint16_t deviceType, bool keepList);
  // Asks the unit at `index` to make itself known (std::out_of_range outside the list).
  void IdentifyDevice(int index);
  void ClearDevices() { m_devices.clear(); }
  const std::vector<std::unique_ptr<CSocketDeviceInfo>>& Devices() const { return m_devices; }
  const CSocketDeviceInfo& Device(int index) const;

  // Where the interface list comes from (tests give their own).
  void SetInterfaceSource(std::function<std::vector<CLocalInterface>()> source) {
    m_interfaces = std::move(source);
  }

  static Datagram Request(std::uint8_t command, std::uint16_t deviceType,
                          const std::array<std::uint8_t, 6>& hardwareAddress = {});
  // The fields of an announcement; nothing for a datagram that is not one.
  static std::optional<CSocketDeviceInfo> ParseAnnouncement(const std::uint8_t* data, std::size_t length);

 private:
  void Trace(const std::string& text) { m_trace->Write(text); }
  bool BroadcastOn(const CLocalInterface& local, const Datagram& datagram);
  void SearchPass(CSocketClient& client, const CLocalInterface& local);
  void TraceAnswer(const std::uint8_t* data);

  std::uint16_t m_localPort = 17009;
  std::uint16_t m_devicePort = 17008;
  int m_deviceType = 0;
  std::vector<std::unique_ptr<CSocketDeviceInfo>> m_devices;
  std::unique_ptr<CNotifySinkTrace> m_ownTrace;
  CNotifySinkTrace* m_trace;
  std::function<std::vector<CLocalInterface>()> m_interfaces = LocalIpv4Interfaces;
};
