#pragma once
// The simulated servo drive's file system and the request messages that reach it through the
// message channel (the layout in src/devices/servo/gci_message.h). Files are kept in memory,
// named by their drive path with the drive's backslash ("\project\DevConf.dat") and found
// without regard to case, as the drive's file system does. There are no directories: a
// directory query answers the free space for any path.
//
// Every number a request brings is checked against the request itself and the drive's bounds
// before it is used; what does not fit is answered with an error status, never followed.
// Statuses of the answers (the drive's own numbers; the host only tells 0 from the rest):
//   0 success, 2 no such file, 3 no such handle, 4 no space left, 5 a malformed request
//   (a field that does not match the request or a bound), 6 access not allowed by the open
//   mode, 7 too many files open, 8 unknown message type.

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

enum ESimServoStatus : std::uint16_t {
  kSimServoOk = 0,
  kSimServoNoFile = 2,
  kSimServoNoHandle = 3,
  kSimServoNoSpace = 4,
  kSimServoMalformed = 5,
  kSimServoAccess = 6,
  kSimServoTooManyOpen = 7,
  kSimServoUnknownType = 8,
};

struct CSimServoFile {
  std::string Path;  // as the host first wrote it
  std::vector<std::uint8_t> Data;
};

class CSimServoFiles {
 public:
  // The most data one read answers: the host's answer buffer holds a header and 1024 bytes.
  static constexpr std::uint32_t kMaxReadLength = 1024;
  static constexpr std::size_t kMaxOpenFiles = 16;
  static constexpr std::size_t kMaxNameLength = 254;

  // `freeBytes` is the free space with no file stored; `segmentSize` what type 209 reports.
  CSimServoFiles(std::uint32_t freeBytes, std::uint32_t segmentSize);

  // Stores a file as if written before the host came (the drive's error file).
  void Preload(const std::string& path, std::vector<std::uint8_t> data);
  // Answers (a whole answer message) the status `status` to every request of `type` without
  // carrying it out: a drive that refuses one kind of request.
  void FailType(std::uint8_t type, std::uint16_t status) { m_failedTypes[type] = status; }

  // Carries out one whole request message and gives the whole answer message. Nothing when the
  // request is no message at all (no marker, a header cut short, a length field that does not
  // match its size): the transfer that brought it is refused instead.
  std::optional<std::vector<std::uint8_t>> Execute(std::span<const std::uint8_t> request);

  // Every file stored, sorted by path without regard to case.
  std::vector<CSimServoFile> Files() const;
  std::uint32_t FreeBytes() const;

 private:
  struct Handle {
    std::string Key;
    bool Write = false;
  };
  struct Answer {
    std::uint16_t Status = kSimServoOk;
    std::map<std::size_t, std::uint32_t> Parameters;  // offset -> value
    std::vector<std::uint8_t> Payload;
  };

  Answer Open(std::span<const std::uint8_t> request);
  Answer Close(std::span<const std::uint8_t> request);
  Answer Read(std::span<const std::uint8_t> request);
  Answer Write(std::span<const std::uint8_t> request);
  Answer FileSize(std::span<const std::uint8_t> request);
  Answer SizeDir(std::span<const std::uint8_t> request) const;
  Answer SegmentSize(std::span<const std::uint8_t> request) const;

  // The path a request names in byte 12 and its payload: FILE01..03.DAT by number, or the
  // zero-ended name that follows 0x80. Nothing for anything else.
  static std::optional<std::string> RequestedPath(std::span<const std::uint8_t> request);
  static std::string Key(const std::string& path);
  std::uint64_t UsedBytes() const;

  const std::uint64_t m_capacity;
  const std::uint32_t m_segmentSize;
  std::map<std::string, CSimServoFile> m_files;  // by Key(path)
  std::map<std::uint32_t, Handle> m_handles;
  std::uint32_t m_nextHandle = 1;
  std::map<std::uint8_t, std::uint16_t> m_failedTypes;
};
