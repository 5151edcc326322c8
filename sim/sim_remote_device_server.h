#pragma once
// A remote device server for tests and the demo: it listens on TCP and forwards the simulated
// USB devices of an emulated bus over the remote device frames (8-byte little-endian header:
// type 1 read, 2 write, 3 open, 4 close; reserved; length). The open record names the device
// by its friendly name in UTF-16LE; the answer is 260 bytes with the status at offset 258
// (0 opened, 1 no such device). A read request is answered with exactly the bytes asked for,
// collected from the device's IN packets; a write request's data go to the device as OUT
// transfers of at most 256 bytes. Every request is kept as it came, for the tests.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CSimTcpServer;

class CSimRemoteDeviceServer {
 public:
  static constexpr std::uint16_t kStatusOpened = 0;
  static constexpr std::uint16_t kStatusNoDevice = 1;

  // Serves the devices on the bus in `busDirectory`, on address:port (port 0: any free one).
  CSimRemoteDeviceServer(std::string busDirectory, std::string address = "127.0.0.1", std::uint16_t port = 0);
  ~CSimRemoteDeviceServer();
  CSimRemoteDeviceServer(const CSimRemoteDeviceServer&) = delete;
  CSimRemoteDeviceServer& operator=(const CSimRemoteDeviceServer&) = delete;

  // Throws CSimError when the address cannot be listened on.
  void Start();
  void Stop();
  std::uint16_t Port() const { return m_port; }

  // The requests received, each header with what followed it, in order.
  std::vector<std::vector<std::uint8_t>> Requests() const;

 private:
  void Serve(int fd);
  void Keep(std::vector<std::uint8_t> request);

  std::string m_busDirectory;
  std::string m_address;
  std::uint16_t m_port;
  mutable std::mutex m_mutex;
  std::vector<std::vector<std::uint8_t>> m_requests;
  std::unique_ptr<CSimTcpServer> m_server;  // last: its thread stops before the rest goes
};
