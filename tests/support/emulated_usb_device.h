#pragma once
// A device on the emulated USB bus for the transport tests, served by the simulators' own
// device server: it answers each frame from the host through a handler, on any number of
// connections, and reports its transcript in the terms these tests check: frames with their
// connection, connections, probe opens and ejects. It has no away time, so an eject drops its
// connections and it is back at once, with no wait on the clock.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_usb_address.h"

class CSimDeviceServer;
class CSimTranscript;

class CEmulatedUsbDevice {
 public:
  using Bytes = std::vector<std::uint8_t>;

  struct Frame {
    std::uint32_t connection;  // numbered from 1 in the order they were accepted
    bool toDevice;
    Bytes bytes;
  };

  // What the device does after a frame from the host.
  struct Reply {
    std::vector<Bytes> frames;  // sent back, one frame per packet (any length)
    bool close = false;         // then drop the connection
  };
  using Handler = std::function<Reply(const Bytes& frame)>;

  // Puts the device at `address` on the bus in `directory`, with a .name file when it has a
  // friendly name.
  CEmulatedUsbDevice(const std::string& directory, const CSimUsbAddress& address,
                     std::optional<std::string> friendlyName = std::nullopt);
  ~CEmulatedUsbDevice();
  CEmulatedUsbDevice(const CEmulatedUsbDevice&) = delete;
  CEmulatedUsbDevice& operator=(const CEmulatedUsbDevice&) = delete;

  // The answer to every later frame (default: none).
  void SetHandler(Handler handler);

  // Waits (on the device's progress, at most `limit`) until `done` holds.
  bool WaitUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(5));

  std::vector<Frame> Transcript() const;
  // The frames the host sent, without the connection numbers.
  std::vector<Bytes> Received() const;
  int Connections() const;
  // Connections that closed without a frame (probe opens).
  int Probes() const;
  int OpenConnections() const;
  int Ejects() const;

  const std::string& DevicePath() const { return m_devicePath; }

  // Splits bytes into packets of at most `size` bytes.
  static std::vector<Bytes> Packets(const std::string& bytes, std::size_t size = 64);
  static Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

 private:
  class CHandlerDevice;

  const CSimTranscript& SimTranscript() const;

  std::string m_devicePath;
  std::unique_ptr<CSimDeviceServer> m_server;
  CHandlerDevice* m_device;  // owned by the server
};

// A fresh, empty bus directory for one test, removed with the object.
class CTempBusDirectory {
 public:
  CTempBusDirectory();
  ~CTempBusDirectory();
  CTempBusDirectory(const CTempBusDirectory&) = delete;
  CTempBusDirectory& operator=(const CTempBusDirectory&) = delete;
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};
