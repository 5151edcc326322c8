#pragma once
// The simulated C28xx device: its bootloader as the updater talks to it. It takes two-byte
// commands (0x00, then the command): 00 02 answers the identity in UTF-16 words, big-endian,
// ended by a zero word; 00 1E starts a program download, 00 1F 00 01 <count> announces its
// segments, each a header (start, word count, kind) and its words; 00 21 ends it. It keeps
// what it received for tests and, with record=FILE, in a text file, and once a download is
// complete it reports the firmware version found in it (firmware_version_tag.h) at once: the
// new firmware starts by itself.
//
// Options (besides the generic ones): id=TEXT (the catalog Id it answers to, default
// ZT5503-1D; the identity is its first nine characters, a blank and the version),
// firmware=N (default 100), record=FILE.
//
// Every answer goes through the fault plan: a refused one (refuse_ack=K) carries 0x3F, so a
// status reads 003F and a segment acknowledgement 003F instead of 0021.
//
// The record file, rewritten whole (a side file renamed into place) whenever a download
// begins or ends and before each answer that takes a segment; one line each:
//
//   download program
//   segment 0xAAAAAAAA 0xWWWW KIND HEX   (start, word count, kind; the data bytes as sent)
//   end complete|incomplete              (missing while the download runs)

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_downloading_device.h"

class CSimOptions;

struct CSimC28xxSegment {
  std::uint32_t Start = 0;          // word address
  std::uint16_t Words = 0;          // the word count as sent
  std::uint16_t Kind = 0;
  std::vector<std::uint8_t> Data;   // the data bytes as received, each word low byte first
  bool operator==(const CSimC28xxSegment&) const = default;
};

struct CSimC28xxDownload {
  bool Ended = false;     // complete, refused or broken off; false while it runs
  bool Complete = false;  // every announced segment taken and the end command seen
  std::uint16_t Announced = 0;             // the segment count of the program header
  std::vector<CSimC28xxSegment> Segments;  // each answered with status 0
};

class CSimC28xx : public CSimDownloadingDevice<CSimC28xxDownload> {
 public:
  static constexpr std::uint16_t kProductId = 0x5503;
  static constexpr const char* kDefaultId = "ZT5503-1D";
  static constexpr const char* kDefaultName = "C28xx DSP Unit";
  static constexpr std::uint16_t kDefaultFirmware = 100;

  // Takes the generic options with the device's defaults (product id 0x5503, the second
  // driver generation, the friendly name "Tavrix <id> C28xx DSP Unit") and its own. Throws
  // CSimError for a bad value or a record file that cannot be written.
  explicit CSimC28xx(CSimOptions& options);

  void RunProgram(CSimConnection& io) override;
  // "ZT5503-1D, firmware 1.00"
  std::string Describe() const override;

 private:
  struct Session;

  CSimC28xx(CSimOptions& options, std::string id);

  void Serve(Session& session, std::uint8_t command);
  void SendIdentity(CSimConnection& io);
  void ProgramHeader(Session& session);
  bool ReceiveSegment(Session& session);
  void EndCommand(Session& session);

  std::size_t BeginDownload(Session& session);
  // Sends `accepted` (or 0x3F when the fault plan refuses this answer) as a big-endian word.
  // With the accepted answer `segment` is added; a refused one ends the download incomplete.
  // The record is written before the answer leaves. True when accepted.
  bool Answer(Session& session, std::uint16_t accepted, std::optional<CSimC28xxSegment> segment);
  void EndDownload(Session& session, bool complete);
  // A stalled connection ends the download incomplete and the program (CSimDisconnected).
  void StopIfStalled(Session& session);

  const std::string m_id;
};
