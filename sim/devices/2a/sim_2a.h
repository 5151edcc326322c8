#pragma once
// The simulated 2A interface (model ZR6618-7D): its bootloader as the updater talks to it.
// It answers the identity and variant questions and takes a new firmware by any of its three
// downloads (segments after a 0x1F header, 4 KiB blocks after a lone 0x1F, binary blocks after
// 1D 01), keeps what it received for tests and, with record=FILE, in a text file, and reports
// the firmware version found in what it took (firmware_version_tag.h) once the download is
// complete: after the comeback from the reset for the segment download, at once for the others.
//
// Options (besides the generic ones): variant=1|2|3|? (default 1), firmware=N (default 100),
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

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_device.h"

class CSimOptions;

enum class ESim2ADownloadKind { Segment, Block, Binary };

// "segment", "block", "binary": the names in the record.
const char* Sim2ADownloadKindName(ESim2ADownloadKind kind);

// One acknowledged piece of a download: a segment, a 4 KiB block or a binary block.
struct CSim2AItem {
  std::uint32_t Address = 0;      // segment start, block offset, binary address
  std::uint16_t SizeField = 0;    // as sent: a segment's size (low 16 bits), a block's length; 0 for binary blocks
  std::uint16_t Kind = 0;         // a segment's kind; 0 for blocks
  std::vector<std::uint8_t> Data; // the data bytes as received
  bool operator==(const CSim2AItem&) const = default;
};

struct CSim2ADownload {
  ESim2ADownloadKind Kind = ESim2ADownloadKind::Segment;
  bool Ended = false;     // complete, refused or broken off; false while it runs
  bool Complete = false;  // taken whole: its version (if it carries one) applies
  std::vector<CSim2AItem> Items;  // in the order they came, each acknowledged with "!"
};

class CSim2A : public CSimDevice {
 public:
  static constexpr std::uint16_t kProductId = 0x7D2A;
  static constexpr const char* kFriendlyName = "Tavrix Quadrel Interface";
  static constexpr const char* kIdentityPrefix = "ZR6618-7D Quadrel ";  // 18 characters
  static constexpr std::uint8_t kUnknownVariant = 0x3F;                 // "?"
  static constexpr std::uint16_t kDefaultFirmware = 100;
  // A segment announced with size 0 is a full 64 KiB segment when the next transfer after its
  // header's acknowledgement carries data, an empty (all-0xFF) one when it is empty.
  static constexpr std::uint32_t kFullSegment = 0x10000;
  static constexpr std::uint32_t kBlockSize = 0x1000;
  static constexpr std::uint32_t kBlockImageSize = 0x100000;
  static constexpr std::uint32_t kBinaryBase = 0x0800C000;

  // Takes the generic options with the 2A's defaults and its own. Throws CSimError for a bad
  // value or a record file that cannot be written.
  explicit CSim2A(CSimOptions& options);

  void RunProgram(CSimConnection& io) override;
  void Reenumerate() override;
  // "variant 3, firmware 1.07"
  std::string Describe() const override;

  std::uint8_t Variant() const { return m_variant; }
  // The version the identity reports now.
  std::uint16_t FirmwareVersion() const;
  // Every download so far, in the order they began.
  std::vector<CSim2ADownload> Downloads() const;
  // Waits until `count` downloads have ended (complete or not); true when they have.
  bool WaitForEndedDownloads(std::size_t count, std::chrono::milliseconds timeout) const;

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
  std::size_t OpenDownload(Session& session, ESim2ADownloadKind kind, const char* opening);
  std::size_t BeginDownload(Session& session, ESim2ADownloadKind kind);
  // Sends the next acknowledgement. Before it leaves, with "!": `item` is added and, with
  // `completes`, the download is complete; with "?": the download ends incomplete. The record
  // is written before the answer goes out. True for "!".
  bool Answer(Session& session, std::optional<CSim2AItem> item, bool completes);
  void EndIncomplete(Session& session);
  // A stalled connection ends the download incomplete and the program (CSimDisconnected).
  void StopIfStalled(Session& session);
  // With the state lock held:
  void CompleteLocked(std::uint32_t connection, std::size_t index);
  void EndIncompleteLocked(std::uint32_t connection, std::size_t index);
  void WriteRecordLocked();

  const std::uint8_t m_variant;
  const std::optional<std::filesystem::path> m_recordPath;
  const bool m_refuseHeader;

  // Guarded by StateMutex():
  std::uint16_t m_firmware;
  std::optional<std::uint16_t> m_pendingFirmware;  // from a segment download, at the comeback
  std::vector<CSim2ADownload> m_downloads;
  std::vector<std::string> m_recordTexts;  // each download's lines in the record so far
  bool m_recordFailed = false;
  mutable std::condition_variable m_downloadEnded;
};
