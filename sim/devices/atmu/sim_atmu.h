#pragma once
// The simulated ATMU device: its page-wise bootloader as the updater talks to it. It answers
// the identity question with its model code and firmware version, takes 1E as the start of
// programming, tells its page size on 3C and then takes pages (number, bytes, checksum) until
// the restart FF FF. It keeps what it received for tests and, with record=FILE, in a text file;
// after the restart it reports the version found in the pages it took
// (firmware_version_tag.h).
//
// Options (besides the generic ones): model=TEXT (default ZA0815-2T, the Id its catalog
// entry has), firmware=N (default 100), page_code=N (the page size code it reports, default
// 0x53: 128 bytes; any byte, so that a broken device can be played), busy_page=N with
// busy_times=K (answers page N's checksum "E", "try again", K times or, without busy_times,
// every time), record=FILE. Every page acknowledgement counts for refuse_ack=K.
//
// Answers to a page's checksum: "!" written; "?" refused (refuse_ack, a page beyond the
// 128 KiB flash); "E" for a wrong checksum or a busy page, after which the host sends the page
// again.
//
// The record file, rewritten whole (a side file renamed into place) before every answer that
// accepts a page and whenever a download begins or ends; one line each:
//
//   download pages SIZE
//   page 0xNNNN HEX                 (each page as accepted, in the order they came)
//   end complete|incomplete         (complete: the restart came; missing while it runs)

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_downloading_device.h"

struct CSimAtmuPage {
  std::uint16_t Number = 0;
  std::vector<std::uint8_t> Data;
  bool operator==(const CSimAtmuPage&) const = default;
};

struct CSimAtmuDownload {
  std::uint16_t PageSize = 0;
  bool Ended = false;     // restarted, refused or broken off; false while it runs
  bool Complete = false;  // the restart came: its version (if it carries one) applies
  std::vector<CSimAtmuPage> Pages;  // in the order they came, each acknowledged with "!"
};

class CSimATMU : public CSimDownloadingDevice<CSimAtmuDownload> {
 public:
  static constexpr std::uint16_t kProductId = 0xA7B0;
  static constexpr const char* kDefaultModel = "ZA0815-2T";
  static constexpr std::uint16_t kDefaultFirmware = 100;
  static constexpr std::uint8_t kDefaultPageCode = 0x53;
  static constexpr std::uint32_t kFlashSize = 0x20000;
  static constexpr std::uint8_t kTryAgain = 'E';

  // Takes the generic options with the ATMU's defaults and its own. Throws CSimError for a
  // bad value or a record file that cannot be written.
  explicit CSimATMU(CSimOptions& options);

  void RunProgram(CSimConnection& io) override;
  // "ZA0815-2T, firmware 1.00, pages of 128 bytes"
  std::string Describe() const override;

 private:
  struct Session;

  CSimATMU(CSimOptions& options, std::string model);
  void Serve(Session& session, std::uint8_t command);
  void DeviceInformation(Session& session);
  // Pages until the restart, a refusal or the end of the connection.
  void TakePages(Session& session, std::uint16_t pageSize);
  // Answers one page; false when the download ended with it.
  bool AnswerPage(Session& session, CSimAtmuPage page, std::uint8_t checksum);
  void Restart(Session& session);
  std::size_t BeginDownload(Session& session, std::uint16_t pageSize);
  void EndIncomplete(Session& session);
  void StopIfStalled(Session& session);
  // With the state lock held:
  void EndLocked(std::uint32_t connection, std::size_t index, bool complete);

  const std::string m_model;
  const std::uint8_t m_pageCode;
  const std::optional<std::uint16_t> m_busyPage;
  const std::uint64_t m_busyTimes;

  // Guarded by StateMutex():
  std::uint64_t m_busyAnswers = 0;
};
