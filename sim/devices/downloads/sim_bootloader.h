#pragma once
// The simulated bootloader of the USB interface families (2A, 1A, 1Z, MK): the downloads they
// share as the updater talks to them. Each family derives its device from CSimBootloader,
// names its USB address, the downloads it takes and the byte order of its block header, and
// answers its identity (and any command of its own). The bootloader takes a new firmware by
// the downloads the family has (segments after a 0x1F header, 4 KiB blocks after a lone 0x1F,
// binary blocks after 1D 01), keeps what it received for tests and, with record=FILE, in a
// text file, and reports the firmware version found in what it took (firmware_version_tag.h)
// once the download is complete: after the comeback from the reset for the segment download,
// at once for the others.
//
// Options every such device takes (besides the generic ones): firmware=N (default 100),
// refuse_header (answer the segment download's header "?"), record=FILE.
//
// The record file, rewritten whole (a side file renamed into place) before every
// acknowledgement that completes an item and whenever a download begins or ends, so that
// whatever a host saw acknowledged is in it by the time the host program ends; one line each:
//
//   download segment|block|binary
//   segment 0xAAAAAAAA 0xSSSS KIND HEX      (the size field as sent; no HEX for no data)
//   block 0xAAAAAAAA HEX
//   binary 0xAAAAAAAA HEX
//   end complete|incomplete                 (missing while the download runs)
//
// HEX is the data bytes in upper-case hexadecimal, two digits each, without blanks.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_downloading_device.h"

enum class ESimBootDownloadKind { Segment, Block, Binary };

// "segment", "block", "binary": the names in the record.
const char* SimBootDownloadKindName(ESimBootDownloadKind kind);

// One acknowledged piece of a download: a segment, a 4 KiB block or a binary block.
struct CSimBootItem {
  std::uint32_t Address = 0;      // segment start, block offset, binary address
  std::uint16_t SizeField = 0;    // as sent: a segment's size (low 16 bits), a block's length; 0 for binary blocks
  std::uint16_t Kind = 0;         // a segment's kind; 0 for blocks
  std::vector<std::uint8_t> Data; // the data bytes as received
  bool operator==(const CSimBootItem&) const = default;
};

struct CSimBootDownload {
  ESimBootDownloadKind Kind = ESimBootDownloadKind::Segment;
  bool Ended = false;     // complete, refused or broken off; false while it runs
  bool Complete = false;  // taken whole: its version (if it carries one) applies
  std::vector<CSimBootItem> Items;  // in the order they came, each acknowledged with "!"
};

// What tells one family's bootloader from another's.
struct CSimBootloaderProfile {
  std::uint16_t ProductId = 0;
  ESimGeneration Generation = ESimGeneration::First;
  const char* FriendlyName = nullptr;
  // The downloads the bootloader takes; a command of another one is an unknown command.
  bool Segments = false;
  bool Blocks = false;
  bool Binary = false;
  // The block header's address and length low byte first (otherwise high byte first).
  bool BlockLowByteFirst = false;
};

class CSimBootloader : public CSimDownloadingDevice<CSimBootDownload> {
 public:
  static constexpr std::uint16_t kDefaultFirmware = 100;
  // A segment announced with size 0 is a full 64 KiB segment when the next transfer after its
  // header's acknowledgement carries data, an empty (all-0xFF) one when it is empty.
  static constexpr std::uint32_t kFullSegment = 0x10000;
  static constexpr std::uint32_t kBlockSize = 0x1000;
  static constexpr std::uint32_t kBlockImageSize = 0x100000;
  static constexpr std::uint32_t kBinaryBase = 0x0800C000;

  void RunProgram(CSimConnection& io) override;
  void Reenumerate() override;
  // "firmware 1.07"
  std::string Describe() const override;

 protected:
  // Takes the generic options over the profile's address and name, and the options every
  // bootloader has. Throws CSimError for a bad value or a record file that cannot be written.
  CSimBootloader(CSimOptions& options, const CSimBootloaderProfile& profile);

  // The identity text the device answers 0x02 with, for the firmware it runs (zero added).
  virtual std::string OwnIdentity(std::uint16_t firmware) const = 0;
  // A command of the family's own, read as `command`; false when the family has none of
  // that number (the shared downloads' commands come next).
  virtual bool ServeOwnCommand(CSimConnection& /*io*/, std::uint8_t /*command*/) { return false; }

 private:
  struct Session;

  void Serve(Session& session, std::uint8_t command);
  void SegmentDownload(Session& session);
  bool ReceiveSegment(Session& session, bool last);
  void ProgramBlock(Session& session);
  void EndBlockDownload(Session& session);
  void BinaryCommand(Session& session);
  void BinaryBlock(Session& session);
  void EndBinaryDownload(Session& session);

  // The session's download of `kind`; one of another kind ends incomplete first. A download
  // begun without its opening command is a violation (`opening` names it) but is taken.
  std::size_t OpenDownload(Session& session, ESimBootDownloadKind kind, const char* opening);
  std::size_t BeginDownload(Session& session, ESimBootDownloadKind kind);
  // Sends the next acknowledgement. Before it leaves, with "!": `item` is added and, with
  // `completes`, the download is complete; with "?": the download ends incomplete. The record
  // is written before the answer goes out. True for "!".
  bool Answer(Session& session, std::optional<CSimBootItem> item, bool completes);
  void EndIncomplete(Session& session);
  // A stalled connection ends the download incomplete and the program (CSimDisconnected).
  void StopIfStalled(Session& session);
  // With the state lock held:
  void CompleteLocked(std::uint32_t connection, std::size_t index);
  void EndIncompleteLocked(std::uint32_t connection, std::size_t index);

  const CSimBootloaderProfile m_profile;
  const bool m_refuseHeader;

  // Guarded by StateMutex():
  std::optional<std::uint16_t> m_pendingFirmware;  // from a segment download, at the comeback
};
