#pragma once
// The simulated automotive trainer (kind `motrevo`): product id 0x4C17, second-generation
// driver, friendly name "Tavrix MOTREVO". Its firmware answers 0x0B with the order number
// "ZRxxxx-xx.AAA.BBB.CCC" (AAA the firmware version, BBB and CCC the board and loader
// numbers) and restarts into its loader on 0x32. The loader answers 0x0B the same way and then
// takes the firmware text line by line, each line answered with one byte:
//
//   0x21  the line is taken, the next one please
//   0xAA  an end record (S7, S8, S9) closed the firmware: done, it starts with it
//   0xF1  the line is refused (not a well-formed S-record, or refused by the fault plan)
//
// The loader reads each line as the S-record it is: its count field says how many characters
// belong to it, however the host's transfers cut it; an empty transfer is an empty line and is
// taken. After the end record the device reports the version tag (firmware_version_tag.h)
// found in the records' data, taken in address order; without a tag the version stays.
//
// Options (besides the generic ones): firmware=N (default 100), record=FILE, no_loader (after
// 0x32 it never comes back: every later connection is dropped at its first transfer). The
// generic refuse_ack=K makes the K-th answer to a line 0xF1.
//
// The record file, rewritten whole whenever a download begins or ends and before each answer:
//
//   download lines
//   line TEXT            (each line as received, in order)
//   end complete|incomplete

#include <condition_variable>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_downloading_device.h"

class CSimOptions;

struct CSimMotrevoDownload {
  std::vector<std::string> Lines;  // every line received, answered or not
  bool Ended = false;
  bool Complete = false;  // closed by an end record
};

class CSimMotrevo : public CSimDownloadingDevice<CSimMotrevoDownload> {
 public:
  static constexpr std::uint16_t kProductId = 0x4C17;
  static constexpr const char* kFriendlyName = "Tavrix MOTREVO";
  static constexpr std::uint16_t kDefaultFirmware = 100;
  static constexpr std::uint8_t kLineTaken = 0x21;
  static constexpr std::uint8_t kDone = 0xAA;
  static constexpr std::uint8_t kRefused = 0xF1;

  explicit CSimMotrevo(CSimOptions& options);

  void RunProgram(CSimConnection& io) override;
  // "firmware 1.00" or "loader, firmware 1.00"
  std::string Describe() const override;

  bool InLoader() const;

 private:
  void RunFirmware(CSimConnection& io);
  void RunLoader(CSimConnection& io, std::optional<std::size_t>& open);
  std::string ReadLine(CSimConnection& io, std::vector<std::uint8_t> frame);
  // Answers the line of the open download and keeps it; true when the download goes on.
  bool AnswerLine(CSimConnection& io, std::size_t index, const std::string& line);
  void EndDownload(std::size_t index, bool complete);
  std::string IdentityText() const;

  const bool m_noLoader;

  // Guarded by StateMutex():
  bool m_inLoader = false;
  bool m_gone = false;
  unsigned m_firmwarePrograms = 0;  // connections running the firmware's program now
  std::condition_variable m_firmwareEnded;
};
