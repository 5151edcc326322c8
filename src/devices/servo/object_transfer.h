#pragma once
// The client side of the drive's object transfers, over the frame exchange of the control
// unit. Numbers inside frames are little-endian; frame bytes are d0..d7.
//
//   upload request         40 <index:2> <sub> 00 00 00 00                        (length 4)
//   upload answer          4F/4B/47/43 <object> <value>: expedited, 4 - n bytes
//                          41 <object> <total:4>: segmented, then for each segment
//                          60 | toggle (length 1) -> d0 = t nnn c, 7 - n bytes from d1
//                          60 <object>: the confirmation of a download
//   expedited download     23 | (4 - size) << 2, <object>, <value>              (length 4 + size)
//   segmented download     21 <object> <size:2> 00 00 -> 60 <object>; segments
//                          toggle | (7 - k) << 1 | last, each answered by 20 | toggle
//   block download         C6 <object> <size:4> -> A0 <object> <block size 1..127>;
//                          segments with sequence numbers 1.. (| 80 on the last), after
//                          each full block and after the last: A2 <last sequence> <1..127>;
//                          end C1 | n << 2, <CRC:2> -> A1 <object>
//
// An answer that does not fit the exchange, or no answer within the control unit's time-out,
// fails the transfer; nothing is retried here.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "devices/servo/kinetra.h"

class CDrive;

// An object of the drive's dictionary.
struct DriveObject {
  std::uint16_t Index = 0;
  std::uint8_t Subindex = 0;
  bool operator==(const DriveObject&) const = default;
};

// What an upload (or the confirmation of a download) brought.
struct UploadAnswer {
  enum class EKind { kConfirmation, kExpedited, kSegmented };
  EKind Kind = EKind::kConfirmation;
  std::vector<std::uint8_t> Data;  // the value (expedited) or the bytes uploaded (segmented)
};

class CObjectTransfer {
 public:
  // Uploaded data never grows beyond this (a message header and 1024 data bytes).
  static constexpr std::size_t kMaxUpload = 1052;

  explicit CObjectTransfer(CDrive& drive) : m_drive(drive) {}

  // Asks for the object's value; the object becomes the pending one.
  bool RequestUpload(DriveObject object);
  // The answer about the pending object: its value, or a download's confirmation. Nothing when
  // no frame came, the frame does not name the pending object, its kind is not understood, or
  // the data would grow beyond kMaxUpload.
  std::optional<UploadAnswer> ReceiveUpload();
  // Writes a value of 1, 2 or 4 bytes in one frame; the object becomes the pending one and
  // ReceiveUpload brings the confirmation.
  bool DownloadExpedited(DriveObject object, std::span<const std::uint8_t> value);
  // Writes up to 65535 bytes, seven in each acknowledged segment.
  bool DownloadSegmented(DriveObject object, std::span<const std::uint8_t> data);
  // Writes the bytes in blocks of the size the drive names, ending with their CRC.
  bool DownloadBlock(DriveObject object, std::span<const std::uint8_t> data);

  const DriveObject& Pending() const { return m_pending; }

 private:
  bool Send(const CanFrame& frame);
  bool Receive(CanFrame& frame);
  // Sends `frame`, then takes the drive's answer into it.
  bool Exchange(CanFrame& frame);
  std::optional<std::vector<std::uint8_t>> UploadSegments(std::uint32_t total);
  bool SendBlockSegments(std::span<const std::uint8_t> data, std::uint8_t blockSize);

  CDrive& m_drive;
  DriveObject m_pending;
};
