#pragma once
// The simulated servo trainer: its control unit on the bus (product id 0x3351, first driver
// generation, friendly name "Tavrix Kinetra") with a simulated drive behind it
// (sim_servo_drive.h). The control unit answers the byte commands described at the top of
// src/devices/servo/kinetra.h (multi-byte numbers big-endian):
//
//   90 switch ("!" at OFF, "?" at RUN)      91 identity "ZQ3351-9F <firmware>", zero-ended
//   95/96 set a channel, 97/98 read it       A2 close (not answered)
//   A4 code:2 sub:1 -> value:4 status         (status "?" when the drive has no such number)
//   B2 application version:2                  C0 drive number
//   C1/C2 open/close the link to the drive -> "!"
//   C3 id:2 len:1 data:8 -> "!"               the frame goes to the drive
//   C4 timeout:2 -> "!" id:2 len:1 data:8     the drive's next frame; without one, after the
//                                             time-out (on the clock in use), one "?"
//
// and takes its firmware by the segment download the USB bootloaders share
// (devices/downloads/sim_bootloader.h: 1F 01 count 00 01, the segments, the reset); after the
// comeback the identity reports the version the image's tag carries. The C28xx-based unit
// (id=ZP2290-8E) takes the C28xx program download with single-byte commands instead, and runs
// the new firmware at once:
//
//   1E                                  start, not answered
//   1F 00 01 <count:2>         -> 00 00 one packet
//   <start:4> <words:2> <kind:2> -> 21  per segment, one packet
//   <words x 2 bytes>          -> 00 00 (a segment of no words: one empty transfer)
//   21                                  end, not answered
//
// It is recorded as "download program" with "segment" lines (start word address, word count,
// kind, the bytes as sent). Every "!" (and every 21 and 00 00 of the program download) goes
// through the fault plan: refuse_ack=K counts them all; a refused one is 3F or 00 3F.
//
// Options (besides the generic ones and the drive's, sim_servo_drive.h):
//   id=ZQ3351-9F|ZP3351-9F|ZP2290-8E   the model code the identity begins with
//   firmware=N (default 130), record=FILE (the firmware downloads, then the drive's part)
//   switch=off|run (default off; run stays at RUN), run_asks=K (RUN for the first K asks,
//   then OFF), drive=N (what C0 answers, default 1)

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "sim/devices/downloads/sim_bootloader.h"
#include "sim/devices/servo/sim_servo_drive.h"

class CSimServo : public CSimBootloader {
 public:
  static constexpr std::uint16_t kProductId = 0x3351;
  static constexpr const char* kFriendlyName = "Tavrix Kinetra";
  static constexpr const char* kDefaultModel = "ZQ3351-9F";
  static constexpr std::uint16_t kDefaultFirmware = 130;

  explicit CSimServo(CSimOptions& options);

  void RunProgram(CSimConnection& io) override;
  void Reenumerate() override;
  // "ZQ3351-9F, firmware 1.30, application 1.00, drive 1"
  std::string Describe() const override;

  // The drive as it stands now (a copy), for tests.
  CSimServoDrive Drive() const;
  std::uint16_t ApplicationVersion() const;
  // How often the switch was asked for.
  unsigned SwitchAsks() const;

 protected:
  std::string OwnIdentity(std::uint16_t firmware) const override;
  bool ServeOwnCommand(CSimConnection& io, std::uint8_t command) override;

 private:
  void AnswerSwitch(CSimConnection& io);
  void AnswerUnitCodeValue(CSimConnection& io);
  void SendFrame(CSimConnection& io);
  void ReceiveFrame(CSimConnection& io);
  void SetChannel(CSimConnection& io, std::int16_t& channel);
  void SendChannel(CSimConnection& io, const std::int16_t& channel);  // read under the lock
  // Reads the request bytes that must have come in the command's packet.
  std::vector<std::uint8_t> ReadRequest(CSimConnection& io, std::uint8_t command, std::size_t size);
  // With the state lock held: the drive's events to the transcript, and the record rewritten
  // when the drive changed.
  void AfterDriveLocked(CSimConnection& io);

  // The C28xx program download of the ZP2290-8E (sim_servo_program.cpp).
  bool ServeProgramCommand(CSimConnection& io, std::uint8_t command);
  void StartProgram(CSimConnection& io);
  void ProgramHeader(CSimConnection& io);
  bool ProgramSegment(CSimConnection& io);
  void EndProgram(CSimConnection& io);
  void EndProgramIncomplete(CSimConnection& io);
  // Sends `accepted` or, refused by the fault plan, its last byte replaced by 3F (the download
  // then ends incomplete); with the accepted answer `item` is taken. True when accepted.
  bool ProgramAnswer(CSimConnection& io, std::vector<std::uint8_t> accepted, std::optional<CSimBootItem> item);

  const std::string m_model;
  const std::optional<unsigned> m_runAsks;  // RUN for this many asks; none: for ever (switch=run)
  const bool m_startAtRun;
  const std::uint8_t m_driveNumber;

  // Guarded by StateMutex():
  CSimServoDrive m_drive;
  std::deque<CanFrame> m_fromDrive;  // frames the drive sent, not yet fetched
  bool m_linkOpen = false;
  unsigned m_switchAsks = 0;
  std::int16_t m_channel1 = 0;
  std::int16_t m_channel2 = 0;
  unsigned m_recordedRevision = 0;  // the drive's revision the record shows
  std::optional<std::size_t> m_program;  // the program download under way
};
