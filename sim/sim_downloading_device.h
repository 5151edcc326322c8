#pragma once
// CSimDownloadingDevice<TDownload>: the bookkeeping every simulated device that takes a new
// firmware shares, whatever its protocol. It keeps the downloads received so far (for tests),
// the record file (record=FILE, sim_record_file.h) with each download's lines, and the
// firmware version the device reports, which a complete download's version tag replaces.
//
// A family derives its device from it with its own download type, which needs the fields
//   bool Ended;     // complete, refused or broken off; false while it runs
//   bool Complete;  // taken whole: its version (if it carries one) applies
// and drives it from its device program: BeginDownloadLocked, RecordLocked for each piece it
// acknowledges, EndDownloadLocked, then WriteRecordLocked before its answer leaves and
// NotifyDownloadEnded once the state lock is released. Everything named ...Locked is called
// with StateMutex() held.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/sim_device.h"
#include "sim/sim_options.h"
#include "sim/sim_record_file.h"

// The record=FILE option: none when it is not given. Throws CSimError for an empty name.
std::optional<std::filesystem::path> TakeSimRecordPath(CSimOptions& options);
// The firmware=N option (0..65535), `defaultFirmware` when it is not given.
std::uint16_t TakeSimFirmware(CSimOptions& options, std::uint16_t defaultFirmware);
// What the transcript says of the firmware after a download ended: "firmware now 1.07" when it
// was replaced, otherwise "the firmware stays 1.00", after "no version tag, " for a complete
// download that carried none.
std::string SimFirmwareNote(std::uint16_t firmware, bool replaced, bool untagged);
// Throws the CSimError of a record file that cannot be written.
[[noreturn]] void ThrowSimRecordFailed(const std::filesystem::path& path);

template <class TDownload>
class CSimDownloadingDevice : public CSimDevice {
 public:
  // The version the identity reports now.
  std::uint16_t FirmwareVersion() const {
    std::lock_guard lock(StateMutex());
    return m_firmware;
  }

  // Every download so far, in the order they began.
  std::vector<TDownload> Downloads() const {
    std::lock_guard lock(StateMutex());
    return m_downloads;
  }

  // Waits until `count` downloads have ended (complete or not); true when they have.
  bool WaitForEndedDownloads(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(StateMutex());
    return m_downloadEnded.wait_for(lock, timeout, [&] {
      return std::count_if(m_downloads.begin(), m_downloads.end(),
                           [](const TDownload& download) { return download.Ended; }) >=
             static_cast<std::ptrdiff_t>(count);
    });
  }

 protected:
  // Takes the generic options over `defaults`, then record=FILE and firmware=N, and writes the
  // empty record. Throws CSimError for a bad value or a record file that cannot be written.
  CSimDownloadingDevice(CSimOptions& options, const CSimDeviceSetup& defaults, std::uint16_t defaultFirmware)
      : CSimDevice(options.TakeSetup(defaults)),
        m_recordPath(TakeSimRecordPath(options)),
        m_firmware(TakeSimFirmware(options, defaultFirmware)) {
    if (!m_recordPath) return;
    std::lock_guard lock(StateMutex());
    WriteRecordLocked();  // an empty record: nothing received yet
    if (m_recordFailed) ThrowSimRecordFailed(*m_recordPath);
  }

  // Adds a running download whose record begins with `heading` (a whole line), writes the
  // record and gives the download's index.
  std::size_t BeginDownloadLocked(TDownload download, std::string heading) {
    m_downloads.push_back(std::move(download));
    m_recordTexts.push_back(std::move(heading));
    WriteRecordLocked();
    return m_downloads.size() - 1;
  }

  TDownload& DownloadLocked(std::size_t index) { return m_downloads[index]; }

  // Adds `line` (a whole line) to the download's record; WriteRecordLocked writes it out.
  void RecordLocked(std::size_t index, std::string_view line) { m_recordTexts[index] += line; }

  // Ends the download, complete or not, in its state and its record. With `version` (the tag
  // found in a complete download) the device runs that firmware from now on; the transcript
  // notes `what` and the firmware the device then has.
  void EndDownloadLocked(std::uint32_t connection, std::size_t index, bool complete, const std::string& what,
                         std::optional<std::uint16_t> version) {
    MarkEndedLocked(index, complete);
    if (version) m_firmware = *version;
    NoteLocked(connection, what + SimFirmwareNote(m_firmware, version.has_value(), complete && !version));
  }

  // Ends the download in its state and record only: the family says what follows.
  void MarkEndedLocked(std::size_t index, bool complete) {
    TDownload& download = m_downloads[index];
    download.Ended = true;
    download.Complete = complete;
    m_recordTexts[index] += complete ? "end complete\n" : "end incomplete\n";
  }

  // Text the record ends with, after every download's lines: what a family keeps besides its
  // downloads (the servo drive's files). WriteRecordLocked writes it out.
  void SetRecordTrailerLocked(std::string text) { m_recordTrailer = std::move(text); }

  std::uint16_t FirmwareLocked() const { return m_firmware; }
  void SetFirmwareLocked(std::uint16_t firmware) { m_firmware = firmware; }

  // Rewrites the record file; the first failure is noted in the transcript.
  void WriteRecordLocked() {
    if (!m_recordPath) return;
    // The trailer joins the texts only while they are written, without copying them.
    m_recordTexts.push_back(std::move(m_recordTrailer));
    const bool written = RewriteSimRecordFile(*m_recordPath, m_recordTexts);
    m_recordTrailer = std::move(m_recordTexts.back());
    m_recordTexts.pop_back();
    if (written) return;
    if (!m_recordFailed) NoteLocked(0, "cannot write the record file " + m_recordPath->string());
    m_recordFailed = true;
  }

  // Wakes WaitForEndedDownloads; called without the state lock after a download ended.
  void NotifyDownloadEnded() { m_downloadEnded.notify_all(); }

 private:
  void NoteLocked(std::uint32_t connection, const std::string& text) {
    Transcript().Add(connection, ESimEvent::Note, {}, text);
  }

  const std::optional<std::filesystem::path> m_recordPath;

  // Guarded by StateMutex():
  std::uint16_t m_firmware;
  std::vector<TDownload> m_downloads;
  std::vector<std::string> m_recordTexts;  // each download's lines in the record so far
  std::string m_recordTrailer;             // the family's own lines after them
  bool m_recordFailed = false;
  mutable std::condition_variable m_downloadEnded;
};
