#pragma once
// The transcript of one simulated device: every frame in both directions and every connection
// event, time-stamped with the clock in use. Tests read it in-process; tavrix-devsim writes it
// to a file as it grows.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

enum class ESimEvent {
  Connect,      // the host connected
  Out,          // a frame host -> device
  In,           // a frame device -> host
  HostClose,    // the host closed the connection
  DeviceClose,  // the device dropped the connection (eject, fault, stop, bad frame)
  Eject,        // the host's reset frame (length 0xFFFF)
  Away,         // the device left the bus (socket and .name removed)
  Back,         // the device is on the bus again
  Note          // what the device has to say: a protocol violation, a fault that fired
};

const char* SimEventName(ESimEvent event);

struct CSimTranscriptEntry {
  std::uint64_t Time = 0;        // Clock().TickCount() when it happened
  std::uint32_t Connection = 0;  // 1, 2, ... in connect order; 0 for device-wide events
  ESimEvent Event = ESimEvent::Note;
  std::vector<std::uint8_t> Bytes;  // the frame's bytes (Out, In)
  std::string Text;                 // notes
};

class CSimTranscript {
 public:
  using Entries_t = std::vector<CSimTranscriptEntry>;

  void Add(std::uint32_t connection, ESimEvent event, std::vector<std::uint8_t> bytes = {},
           std::string text = {});

  // A line for the transcript file alone, led by "#": what the device's counts stand at, say.
  // It is no event of the device, so Entries() leaves it out.
  void Remark(const std::string& text);

  Entries_t Entries() const;
  // The bytes of every Out (or In) frame, in order.
  std::vector<std::vector<std::uint8_t>> Frames(ESimEvent direction) const;
  std::size_t Count(ESimEvent event) const;
  void Clear();

  // Waits (bounded) until the entries satisfy `predicate`; true when they did.
  bool WaitFor(const std::function<bool(const Entries_t&)>& predicate,
               std::chrono::milliseconds timeout) const;
  // Waits until `event` has happened at least `count` times.
  bool WaitForCount(ESimEvent event, std::size_t count, std::chrono::milliseconds timeout) const;

  // From now on every entry is also appended to `path` (created anew), one line each, flushed
  // at once so that a reader sees it while the device runs. Throws CSimError when it cannot be
  // created.
  void WriteTo(const std::filesystem::path& path, const std::string& title);

  // One line: time in milliseconds since the first entry written, connection, event, length,
  // the bytes in hex and, for frames, their printable characters.
  static std::string FormatEntry(const CSimTranscriptEntry& entry, std::uint64_t startTime);
  std::string Text() const;

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  Entries_t m_entries;
  std::ofstream m_file;
  bool m_fileStarted = false;
  std::uint64_t m_fileStart = 0;
};
