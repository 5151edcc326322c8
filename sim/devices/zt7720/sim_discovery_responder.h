#pragma once
// The discovery side of a simulated network unit: it listens for the 180-byte requests on UDP
// port 17008 (on each named interface, or on all) and answers the sender with the datagrams
// its reply rule gives, by default one announcement (0x91) of its own. Every request is kept
// with the interface it came in on. The sockets are made in the network namespace of the
// thread that calls Start; the answering runs on a thread of its own.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct CSimUnitIdentity {
  std::array<std::uint8_t, 6> HardwareAddress{0x02, 0x00, 0x00, 0x00, 0x77, 0x20};
  std::uint32_t IpAddress = 0;   // network byte order
  std::uint32_t SubnetMask = 0;  // network byte order
  std::uint16_t DeviceType = 7720;
  std::u16string Name = u"ZT7720-4K";
};

class CSimDiscoveryResponder {
 public:
  static constexpr std::uint16_t kDevicePort = 17008;
  static constexpr std::size_t kDatagramSize = 180;
  using Datagram = std::array<std::uint8_t, kDatagramSize>;
  // The answers to one request (none for silence).
  using ReplyRule = std::function<std::vector<Datagram>(const Datagram& request, const std::string& interfaceName)>;

  struct Request {
    std::string Interface;
    Datagram Bytes{};
  };

  // `interfaces`: one socket tied to each (empty: one socket on every interface).
  CSimDiscoveryResponder(CSimUnitIdentity identity, std::vector<std::string> interfaces = {});
  ~CSimDiscoveryResponder();
  CSimDiscoveryResponder(const CSimDiscoveryResponder&) = delete;
  CSimDiscoveryResponder& operator=(const CSimDiscoveryResponder&) = delete;

  // Replaces the default rule (an announcement to a search for its type or for type 0).
  void SetReplyRule(ReplyRule rule);
  // Throws CSimError when a socket cannot be made.
  void Start();
  void Stop();

  std::vector<Request> Requests() const;
  // The identity's announcement.
  Datagram Announcement() const;
  static Datagram Announcement(const CSimUnitIdentity& identity);

 private:
  void Serve();
  std::vector<Datagram> Answer(const Datagram& request, const std::string& interfaceName) const;

  CSimUnitIdentity m_identity;
  std::vector<std::string> m_interfaces;
  std::vector<int> m_sockets;
  std::atomic<bool> m_stopping{false};
  std::thread m_thread;
  mutable std::mutex m_mutex;  // the rule and the requests
  ReplyRule m_rule;
  std::vector<Request> m_requests;
};
