#pragma once
// A device on the emulated USB bus for tests: a Unix-domain socket in the bus directory that
// takes frames on any number of connections, answers them through a handler, and keeps a
// transcript of every frame, connection and eject. It runs on a thread of its own.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class CEmulatedUsbDevice {
 public:
  using Bytes = std::vector<std::uint8_t>;

  struct Frame {
    int connection;  // numbered from 1 in the order they were accepted
    bool toDevice;
    Bytes bytes;
  };

  // What the device does after a frame from the host.
  struct Reply {
    std::vector<Bytes> frames;  // sent back, one frame per packet
    bool close = false;         // then drop the connection
  };
  using Handler = std::function<Reply(const Bytes& frame)>;

  // Creates the socket `devicePath` in `directory` and, with a friendly name, the .name file.
  CEmulatedUsbDevice(std::string directory, std::string devicePath,
                     std::optional<std::string> friendlyName = std::nullopt);
  ~CEmulatedUsbDevice();
  CEmulatedUsbDevice(const CEmulatedUsbDevice&) = delete;
  CEmulatedUsbDevice& operator=(const CEmulatedUsbDevice&) = delete;

  // The answer to every later frame (default: none).
  void SetHandler(Handler handler);
  // Sends frames on the newest open connection at once.
  void Send(const std::vector<Bytes>& frames);

  // Waits (on the device thread's progress, at most `limit`) until `done` holds.
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
  struct Link {
    int fd;
    int number;
    int frames = 0;
    Bytes pending;
  };

  void Run();
  void Accept();
  bool Serve(Link& link);  // false: drop the link
  void Drop(Link& link);
  bool SendFrames(int fd, const std::vector<Bytes>& frames, int number);

  std::string m_directory;
  std::string m_devicePath;
  std::string m_socketPath;
  int m_listen = -1;
  int m_wake[2] = {-1, -1};
  std::thread m_thread;

  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_stop = false;
  Handler m_handler;
  std::vector<Link> m_links;
  std::vector<Frame> m_transcript;
  int m_connections = 0;
  int m_probes = 0;
  int m_ejects = 0;
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
