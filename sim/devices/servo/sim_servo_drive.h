#pragma once
// The simulated servo drive behind the trainer's control unit: frames of its field bus in,
// frames out, with no USB in between, so a test can talk to it directly. It serves
//
//   - an object dictionary: code value C, subindex S is the object 0x5FFF - C, S. Numbers
//     travel expedited (1, 2 or 4 bytes); strings of up to 4 bytes expedited too, longer
//     ones (and empty ones) segmented;
//   - the object-transfer server: upload (expedited, or segmented with toggle and end bit),
//     expedited download, segmented download, and block download (block size 127 unless
//     told, an acknowledgement per block and at the end, the CRC of the whole message
//     checked);
//   - the message channel 0x2189/0: a request message brought by a segmented or block
//     download is carried out on the drive's file system (sim_servo_files.h) and its answer is
//     what the next upload of the channel returns;
//   - the command machine: writing 514/X = v (X 2..6) starts command v; 515/0 reads 2 while it
//     runs (for a number of polls) and then its result, 0 unless told otherwise; device
//     commands written to 2/0 change the status words 150/0 (bit 7: controller inhibit) and
//     155/0 (bit 11: application running): 41 sets the inhibit, 42 clears it, 32 stops the
//     application, 31 starts it;
//   - the application version: what the control unit reports; "finish download" (command 24)
//     ending with 0 replaces it by application_after=N or, without that option, by the
//     version tag (TAVRIX-FW-VERSION=N) first found in the drive's files, in path order.
//
// The drive listens on node 1 (request identifier 0x601) and answers on 0x581. Every size and
// count the host sends is checked before it is used: a transfer that breaks the protocol or a
// bound is answered with an abort frame (d0 0x80, the object, a 4-byte reason), and the
// drive is ready for the next transfer. Not thread-safe: the control unit serialises calls.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "devices/servo/kinetra.h"
#include "sim/devices/servo/sim_servo_files.h"

class CSimOptions;

// A code value: a number that travels with 1, 2 or 4 bytes, or a string.
struct CSimServoNumber {
  std::uint32_t Value = 0;
  std::uint8_t Size = 4;
  bool operator==(const CSimServoNumber&) const = default;
};
using CSimServoValue = std::variant<CSimServoNumber, std::string>;
using CSimServoCode = std::pair<int, int>;  // code number, subindex

struct CSimServoDriveSetup {
  std::uint8_t BlockSize = 127;          // block_size=N (a size outside 1..127 plays a broken drive)
  std::uint32_t FreeBytes = 8u << 20;    // free=N: free space with no file stored
  std::uint32_t SegmentSize = 1024;      // segment_size=N (0: the drive reports none)
  unsigned BusyPolls = 1;                // busy=N: 515 reads 2 this many times per command
  std::map<int, unsigned> BusyPollsFor;  // busy=CMD:N
  std::map<int, std::uint32_t> Results;  // fail=CMD:CODE: what 515 reports once CMD ran
  bool ApplicationRunning = false;       // running: application on, controller inhibit off
  std::uint16_t ApplicationVersion = 100;                // application=N
  std::optional<std::uint16_t> ApplicationAfter;        // application_after=N
  std::set<CSimServoCode> RefusedReads;                  // refuse_read=C/S
  std::set<CSimServoCode> RefusedWrites;                 // refuse_write=C/S
  std::map<std::uint8_t, std::uint16_t> FailedMessages;  // gci_error=TYPE:STATUS
  std::map<CSimServoCode, std::string> Codes;            // code=C/S:VALUE, over the defaults
  std::optional<std::vector<std::uint8_t>> ErrorFile;    // error_file=N / error_file_text=TEXT
};

// The SHA-256 of a file's bytes as the record gives it: 64 upper-case hexadecimal digits.
std::string SimServoSha256(std::span<const std::uint8_t> bytes);

// Takes the drive's options (above). Throws CSimError for a bad value.
CSimServoDriveSetup TakeSimServoDriveSetup(CSimOptions& options);

// A 514 command the drive received, with the result it reports.
struct CSimServoCommand {
  int Subindex = 0;
  std::uint32_t Number = 0;
  std::uint32_t Result = 0;
  bool operator==(const CSimServoCommand&) const = default;
};

// Something the drive met: a note for the transcript, or a host's breach of the protocol.
struct CSimServoEvent {
  bool Violation = false;
  std::string Text;
};

class CSimServoDrive {
 public:
  static constexpr std::uint8_t kNode = 1;
  static constexpr std::uint16_t kRequestIdentifier = 0x600 + kNode;
  static constexpr std::uint16_t kAnswerIdentifier = 0x580 + kNode;
  // The folder 513/0 names unless told otherwise; the error file lies in it.
  static constexpr const char* kDefaultFolder = "\\project";
  static constexpr const char* kErrorFileName = "DevCErr.dat";

  // Abort reasons (d4..d7 of an abort frame).
  static constexpr std::uint32_t kAbortToggle = 0x05030000;
  static constexpr std::uint32_t kAbortCommand = 0x05040001;
  static constexpr std::uint32_t kAbortBlockSize = 0x05040002;
  static constexpr std::uint32_t kAbortSequence = 0x05040003;
  static constexpr std::uint32_t kAbortCrc = 0x05040004;
  static constexpr std::uint32_t kAbortAccess = 0x06010000;
  static constexpr std::uint32_t kAbortReadOnly = 0x06010002;
  static constexpr std::uint32_t kAbortNoObject = 0x06020000;
  static constexpr std::uint32_t kAbortLength = 0x06070010;
  static constexpr std::uint32_t kAbortRefused = 0x08000020;
  static constexpr std::uint32_t kAbortNoData = 0x08000024;
  static constexpr std::uint32_t kAbortMessage = 0x08000000;

  explicit CSimServoDrive(CSimServoDriveSetup setup = {});

  // One frame from the bus; the frames the drive answers with (none while a block's segments
  // come, or for a frame to another node).
  std::vector<CanFrame> Receive(const CanFrame& frame);
  // Drops a transfer under way (noted when there was one): the next frame starts a new one.
  void ForgetTransfer();
  // What happened since the last call, oldest first.
  std::vector<CSimServoEvent> TakeEvents();

  // A code value as the control unit reads it (0xA4): numbers only.
  std::optional<std::uint32_t> UnitCodeValue(int code, int subindex) const;
  std::uint16_t ApplicationVersion() const { return m_applicationVersion; }
  const std::vector<CSimServoCommand>& Commands() const { return m_commands; }
  const std::vector<std::uint32_t>& DeviceCommands() const { return m_deviceCommands; }
  const CSimServoFiles& Files() const { return m_files; }
  std::optional<CSimServoValue> Value(int code, int subindex) const;
  // Counts the changes of what the record shows: files, commands, the application version.
  unsigned Revision() const { return m_revision; }

  // The drive's part of the record file: the commands, the application version, the files
  // with their size and SHA-256.
  std::string RecordText() const;

 private:
  enum class EState { Idle, Upload, SegmentedDownload, BlockSegments, BlockEnd };

  std::vector<CanFrame> Initiate(const CanFrame& frame);
  std::vector<CanFrame> InitiateUpload(std::uint16_t index, std::uint8_t subindex);
  std::vector<CanFrame> UploadSegment(const CanFrame& frame);
  std::vector<CanFrame> ExpeditedDownload(const CanFrame& frame, std::uint16_t index, std::uint8_t subindex);
  std::vector<CanFrame> InitiateDownload(const CanFrame& frame, std::uint16_t index, std::uint8_t subindex,
                                         bool block);
  std::vector<CanFrame> DownloadSegment(const CanFrame& frame);
  std::vector<CanFrame> BlockSegment(const CanFrame& frame);
  std::vector<CanFrame> BlockEnd(const CanFrame& frame);
  // Hands a whole message to the channel; the confirmation `done`, or an abort.
  std::vector<CanFrame> Deliver(const CanFrame& done);

  // Writes a number to a code value with its side effects; 0 or the abort reason.
  std::uint32_t WriteCode(int code, int subindex, std::uint32_t value);
  std::uint32_t ReadStatus();
  void DeviceCommand(std::uint32_t command);
  void FinishDownload();

  CanFrame Answer(std::initializer_list<std::uint8_t> bytes) const;
  CanFrame ObjectAnswer(std::uint8_t d0, std::uint16_t index, std::uint8_t subindex) const;
  std::vector<CanFrame> Abort(std::uint32_t reason, const std::string& why, bool violation = true);
  void Note(std::string text) { m_events.push_back({false, std::move(text)}); }

  const CSimServoDriveSetup m_setup;
  std::map<CSimServoCode, CSimServoValue> m_values;
  CSimServoFiles m_files;
  std::uint16_t m_applicationVersion;

  // The transfer under way.
  EState m_state = EState::Idle;
  std::uint16_t m_index = 0;
  std::uint8_t m_subindex = 0;
  std::vector<std::uint8_t> m_data;  // uploaded or downloaded bytes
  std::size_t m_position = 0;        // upload: bytes sent
  std::optional<std::uint32_t> m_announced;  // download: the size the initiate frame gave
  std::uint8_t m_toggle = 0;
  std::uint8_t m_sequence = 0;  // block download: the last sequence number taken

  std::optional<std::vector<std::uint8_t>> m_answer;  // the message channel's answer

  // The command machine.
  std::uint32_t m_runningResult = 0;
  unsigned m_busyPolls = 0;

  std::vector<CSimServoCommand> m_commands;
  std::vector<std::uint32_t> m_deviceCommands;
  unsigned m_revision = 0;
  std::vector<std::string> m_commandLines;  // both kinds in the order they came, for the record
  std::vector<CSimServoEvent> m_events;
};
