#pragma once
// Serves one simulated device on an emulated bus directory: its socket and .name file, one
// thread per connection, probe opens, the eject frame (drop every connection, leave the bus,
// come back after the device's away time, and only then close the connection that asked for
// it) and a clean stop.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/sim_device.h"

enum class ESimPresence { Stopped, Present, Away };

class CSimDeviceServer {
 public:
  CSimDeviceServer(std::filesystem::path busDirectory, std::unique_ptr<CSimDevice> device);
  ~CSimDeviceServer();
  CSimDeviceServer(const CSimDeviceServer&) = delete;
  CSimDeviceServer& operator=(const CSimDeviceServer&) = delete;

  // Puts the device on the bus. Throws CSimError when the socket cannot be made, or when
  // another program serves the same device path already. A stale socket is replaced.
  void Start();
  // Drops every connection, removes the socket and .name file, joins every thread. Waits
  // for an away time that has begun.
  void Stop();

  CSimDevice& Device() { return *m_device; }
  // The device path and socket the device has (or last had) on the bus.
  std::string DevicePath() const;
  std::filesystem::path SocketPath() const;
  ESimPresence Presence() const;
  // Completed comebacks after ejects.
  std::uint32_t Reenumerations() const;
  bool WaitForReenumerations(std::uint32_t count, std::chrono::milliseconds timeout) const;

 private:
  struct Connection {
    int Fd = -1;
    std::uint32_t Id = 0;
    bool Dropped = false;  // shut down by the server
    bool Resetting = false;  // sent the eject frame: kept open until the reset is over
    std::atomic<bool> Finished{false};
    std::thread Thread;
  };

  void Enter();
  void Leave();
  void ServeLoop();
  void Accept();
  void RunConnection(Connection& connection);
  void AwaitClosedPredecessors(const Connection& connection);
  // Shuts down and joins the connections; those that asked for the reset under way stay,
  // unless `all`.
  void DropConnections(bool all);
  void ReapFinished();
  void RequestEject();
  void AwaitReset(Connection& connection);
  void ComeBack();
  void Wake();
  void Eject();
  void SetPresence(ESimPresence presence, bool comeback = false);

  std::filesystem::path m_busDirectory;
  std::unique_ptr<CSimDevice> m_device;

  mutable std::mutex m_mutex;  // everything below but the atomics and the thread
  mutable std::condition_variable m_changed;
  std::string m_devicePath;
  ESimPresence m_presence = ESimPresence::Stopped;
  std::uint32_t m_reenumerations = 0;
  std::uint32_t m_resetsEnded = 0;  // ejects over, with or without a comeback
  std::uint32_t m_nextConnectionId = 1;
  std::list<std::unique_ptr<Connection>> m_connections;

  int m_listenFd = -1;  // serve thread only, once started
  int m_wakeFd = -1;
  std::atomic<bool> m_stopRequested{false};
  std::atomic<bool> m_ejectRequested{false};
  std::thread m_thread;
};
