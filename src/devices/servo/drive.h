#pragma once
// The servo drive behind the control unit: the frame exchange through the control unit, the
// object transfers and request ("GCI") messages on the drive's field bus, code values, the
// drive's file system and the application download sequence.
//
// The operations are split over one source file per concern:
//   drive_frames.cpp      the frame exchange (C1..C4)
//   drive_messages.cpp    object transfers, request messages, code values, the download log
//   drive_files.cpp       file operations and whole-file transfers
//   download_sequence.cpp the project preparation and the download sequence

#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "devices/servo/download_log.h"
#include "devices/servo/gci_handle_table.h"
#include "devices/servo/gci_packet.h"
#include "devices/servo/kinetra.h"
#include "devices/servo/object_transfer.h"

class IFlashProgress;

class CDrive : public CKinetra {
 public:
  // Every answer of the drive is awaited this long by the control unit.
  static constexpr unsigned kReceiveTimeoutMs = 1000;

  // `log` receives every failure text; it must outlive the drive.
  explicit CDrive(CDownloadLog& log = TheDownloadLog()) : m_log(log) {}

  // --- frame exchange -------------------------------------------------------------------
  bool OpenDriveLink();
  bool CloseDriveLink();
  // Sends on the request identifier of the selected node, whatever the frame holds.
  bool SendFrame(const CanFrame& frame);
  // False, the frame untouched, when no frame arrived in time.
  bool ReceiveFrame(CanFrame& frame, unsigned timeoutMs);

  // --- code values and request messages -------------------------------------------------
  // 1..127 selects node N (request identifier 0x600 + N); anything else selects node 1 and
  // returns false.
  bool SelectNode(int node);
  bool InstallGci();
  bool DeinstallGci();
  // True when the exchange worked; `value` is set only from an answer with status 0. Code
  // 515 is polled while it reads 2.
  bool ReadCodeValueInt(int code, int subindex, int& value);
  // The string value, at most kMaxStringValue characters; a value that is no string gives an
  // empty one. `value` is left as it is when the drive answered with an error.
  static constexpr std::size_t kMaxStringValue = gci::kStringBuffer - 1;
  bool ReadCodeValueString(int code, int subindex, std::string& value);
  bool WriteCodeValueInt(int code, int subindex, int value);
  void LogDownloadFailure(const std::string& text) { m_log.Append(text); }
  const CDownloadLog& Log() const { return m_log; }
  // The answers built here for code values carry a counter in their handle byte; every
  // download sequence starts it at 0.
  void ResetAnswerCounter() { m_answerCounter = 0; }

  // --- drive files ----------------------------------------------------------------------
  bool OpenTransferFile(const std::string& path, bool forWrite, std::uint32_t& handle);
  bool CloseTransferFile(std::uint32_t handle);
  bool GetFileSize(const std::string& path, std::uint32_t& size);
  bool GetSegmentSize(std::uint32_t& size);
  bool GetSizeDir(const std::string& path, std::uint32_t& freeBytes);
  bool ConvFileRead(std::uint32_t handle, std::span<std::uint8_t> destination, std::uint32_t offset);
  bool ConvFileWrite(std::uint32_t handle, std::span<const std::uint8_t> source, std::uint32_t offset);
  // Sends the PC file to the drive in pieces of `segmentSize` bytes.
  bool TransferFile(const std::string& localPath, const std::string& drivePath, std::uint32_t segmentSize,
                    IFlashProgress* progress);
  // The drive's error file, by its name on the drive and on the PC.
  static constexpr const char* kErrorFileName = "DevCErr.dat";
  // Copies the first `size` bytes of the drive's file into "DevCErr.dat" in the project folder.
  bool ReadErrorFile(const std::string& projectFolder, std::uint32_t size, const std::string& drivePath,
                     std::uint32_t segmentSize);

  // --- application download -------------------------------------------------------------
  bool DownloadApplication(IFlashProgress* progress);
  bool PrepareProject(IFlashProgress* progress);
  bool RunDownloadSequence(const std::string& projectFolder, int programSelection, bool sendCommand31,
                           bool sendCommand42, bool stopApplication, bool setControllerInhibit,
                           bool acceptModuleErrors, IFlashProgress* progress);
  bool CheckPrepareDownload(bool stopApplication, bool setControllerInhibit);
  void AbortDownload();
  // After a download stopped on request: gives the drive back what CheckPrepareDownload took
  // from it, its application started again (31) and its controller enabled (42), in the order
  // a finished download sends them. Only what that check changed is undone.
  void RestoreAfterStoppedDownload();

  const std::string& ProjectFolder() const { return m_projectFolder; }
  int ProjectSizeKB() const { return m_projectSizeKB; }
  int ProgressSteps() const { return m_progressSteps; }

 private:
  CDownloadLog& m_log;
  // What the last CheckPrepareDownload changed on the drive.
  bool m_inhibitSet = false;
  bool m_applicationStopped = false;

  // --- frame exchange (drive_frames.cpp) ---------------------------------------------------
  // "!" from the control unit to a link command (C1, C2); false without an open transport.
  bool LinkCommand(std::uint8_t command);

  // --- object transfers and request messages (drive_messages.cpp) ------------------------
  // A request of `type` with room for `payloadSize` payload bytes in the next free slot;
  // nothing when it would not fit `bufferSize` or no slot is free (or the table is not there).
  std::optional<CGciPacket> NewRequest(gci::EGciType type, std::size_t payloadSize,
                                       std::size_t bufferSize = gci::kMessageBuffer);
  // Sends the request and receives its answer; nothing when the exchange failed or the answer
  // is not a whole message that fits `answerBuffer`.
  std::optional<CGciPacket> Transact(const CGciPacket& request, std::size_t answerBuffer = gci::kMessageBuffer);
  bool SendRequest(const CGciPacket& request);
  std::optional<CGciPacket> ReceiveAnswer(std::size_t answerBuffer);
  // The answer to a code value, built from what its object's upload brought.
  std::optional<CGciPacket> CodeValueAnswer(const UploadAnswer& upload);
  // True for an answer of the drive's with status 0; its slot is free again.
  bool ParseAnswer(const CGciPacket& answer);
  // How a request went: not built (no free slot; nothing sent), the exchange failed, the drive
  // answered with an error, or it answered with success (the answer's slot is free again).
  enum class EExchange { kNotBuilt, kFailed, kErrorAnswer, kAnswered };
  // Reads (130) or writes (131, `value` as a 4-byte number) a code value; `answer` is the
  // answer when there was one.
  EExchange ExchangeCodeValue(gci::EGciType type, int code, int subindex, int value, CGciPacket& answer);
  // Open (142) and size (154) requests name a well-known file by number, others in the payload.
  std::optional<CGciPacket> NamedFileRequest(gci::EGciType type, const std::string& path);
  // A file operation's exchange: the answer, or nothing with `failure` in the log when the
  // request could not be built or the exchange failed.
  std::optional<CGciPacket> FileExchange(const std::optional<CGciPacket>& request, const char* failure,
                                         std::size_t answerBuffer = gci::kMessageBuffer);
  // A file operation whose answer carries one number: `result` is set from an answer with
  // status 0 only (an error answer is no failure of the operation).
  bool FileQuery(const std::optional<CGciPacket>& request, const char* failure, std::size_t resultOffset,
                 std::uint32_t& result);
  // Whether a file operation that changes the drive's files was done: an answer that is no
  // error answer. An error answer puts `failure` and the drive's status in the log.
  bool Accepted(const std::optional<CGciPacket>& answer, const char* failure);
  // The PC's copy of the drive's error file, in the project folder or, where that cannot be
  // written, in the user's data folder (with a line in the log); not open when neither works.
  std::ofstream OpenErrorFileCopy(const std::string& projectFolder);

  std::uint16_t m_requestIdentifier = 0x601;
  CObjectTransfer m_transfer{*this};
  std::unique_ptr<CGciHandleTable> m_handles;
  std::uint8_t m_answerCounter = 0;

  // --- application download (download_sequence.cpp) -------------------------------------
  std::string m_projectFolder;
  int m_projectSizeKB = 0;
  int m_progressSteps = 0;
};
