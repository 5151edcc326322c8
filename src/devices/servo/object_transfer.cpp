#include "devices/servo/object_transfer.h"

#include <algorithm>
#include <initializer_list>

#include "devices/servo/drive.h"
#include "devices/servo/gci_message.h"

namespace {

// Command bytes (d0) of the client.
constexpr std::uint8_t kUploadRequest = 0x40;
constexpr std::uint8_t kUploadSegmentRequest = 0x60;
constexpr std::uint8_t kExpeditedDownload = 0x23;
constexpr std::uint8_t kSegmentedDownload = 0x21;
constexpr std::uint8_t kBlockDownload = 0xC6;
constexpr std::uint8_t kBlockEnd = 0xC1;
constexpr std::uint8_t kLastBlockSegment = 0x80;
constexpr std::uint8_t kLastSegment = 0x01;
constexpr std::uint8_t kToggle = 0x10;

// Bits the drive's answers must carry.
constexpr std::uint8_t kUploadAnswer = 0x40;
constexpr std::uint8_t kDownloadConfirmation = 0x60;
constexpr std::uint8_t kExpeditedWithSize = 0x03;
constexpr std::uint8_t kExpeditedBit = 0x02;
constexpr std::uint8_t kSegmentAnswer = 0x20;
constexpr std::uint8_t kBlockAnswer = 0xA0;
constexpr std::uint8_t kBlockAcknowledgement = 0xA2;
constexpr std::uint8_t kBlockEndConfirmed = 0x01;

constexpr std::size_t kSegmentBytes = 7;
constexpr std::uint8_t kMaxBlockSize = 127;

CanFrame Frame(std::uint8_t length, std::initializer_list<std::uint8_t> bytes) {
  CanFrame frame;
  frame.Length = length;
  std::copy(bytes.begin(), bytes.end(), frame.Data);
  return frame;
}

// A frame that names an object in d1..d3.
CanFrame ObjectFrame(std::uint8_t length, std::uint8_t command, DriveObject object) {
  return Frame(length, {command, static_cast<std::uint8_t>(object.Index), static_cast<std::uint8_t>(object.Index >> 8),
                        object.Subindex});
}

bool HasBits(std::uint8_t byte, std::uint8_t bits) { return (byte & bits) == bits; }

bool Names(const CanFrame& frame, DriveObject object) {
  return frame.Data[1] == static_cast<std::uint8_t>(object.Index) &&
         frame.Data[2] == static_cast<std::uint8_t>(object.Index >> 8) && frame.Data[3] == object.Subindex;
}

std::uint32_t Number32(const std::uint8_t* bytes) {
  return bytes[0] | (std::uint32_t{bytes[1]} << 8) | (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
}

void PutNumber(std::uint8_t* bytes, std::uint32_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The next segment of `data` from `offset` on in d1..d7 of `frame`; its byte count.
std::size_t FillSegment(CanFrame& frame, std::span<const std::uint8_t> data, std::size_t offset) {
  const std::size_t count = std::min(kSegmentBytes, data.size() - offset);
  std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset), count, frame.Data + 1);
  return count;
}

}  // namespace

bool CObjectTransfer::RequestUpload(DriveObject object) {
  m_pending = object;
  return Send(ObjectFrame(4, kUploadRequest, object));
}

std::optional<UploadAnswer> CObjectTransfer::ReceiveUpload() {
  CanFrame frame;
  if (!Receive(frame)) return std::nullopt;
  const std::uint8_t command = frame.Data[0];
  if (!Names(frame, m_pending)) return std::nullopt;
  if (HasBits(command, kDownloadConfirmation)) return UploadAnswer{UploadAnswer::EKind::kConfirmation, {}};
  if (!HasBits(command, kUploadAnswer)) return std::nullopt;
  if (HasBits(command, kExpeditedWithSize)) {
    const std::size_t unused = (command >> 2) & 3;
    return UploadAnswer{UploadAnswer::EKind::kExpedited,
                        std::vector<std::uint8_t>(frame.Data + 4, frame.Data + 8 - unused)};
  }
  // An expedited answer that does not say how many of its bytes count tells no value.
  if ((command & kExpeditedBit) != 0) return std::nullopt;
  std::optional<std::vector<std::uint8_t>> data = UploadSegments(Number32(frame.Data + 4));
  if (!data) return std::nullopt;
  return UploadAnswer{UploadAnswer::EKind::kSegmented, std::move(*data)};
}

std::optional<std::vector<std::uint8_t>> CObjectTransfer::UploadSegments(std::uint32_t total) {
  // More than the answer buffer holds is refused before the first segment is asked for.
  if (total > kMaxUpload) return std::nullopt;
  std::vector<std::uint8_t> data;
  std::uint8_t toggle = 0;
  // Every segment may carry nothing; the count bound keeps a drive that never ends from
  // holding the program.
  for (std::size_t segment = 0; segment < kMaxUpload; ++segment) {
    CanFrame frame = Frame(1, {static_cast<std::uint8_t>(kUploadSegmentRequest | toggle)});
    if (!Exchange(frame)) return std::nullopt;
    const std::uint8_t command = frame.Data[0];
    const std::size_t count = kSegmentBytes - ((command >> 1) & 7);
    if (data.size() + count > kMaxUpload) return std::nullopt;
    data.insert(data.end(), frame.Data + 1, frame.Data + 1 + count);
    toggle ^= kToggle;
    // A total of 0 means "not told": the one segment asked for is all there is.
    if ((command & kLastSegment) != 0 || data.size() >= total) return data;
  }
  return std::nullopt;
}

bool CObjectTransfer::DownloadExpedited(DriveObject object, std::span<const std::uint8_t> value) {
  if (value.size() != 1 && value.size() != 2 && value.size() != 4) return false;
  const auto unused = static_cast<std::uint8_t>(4 - value.size());
  CanFrame frame = ObjectFrame(static_cast<std::uint8_t>(4 + value.size()),
                               static_cast<std::uint8_t>(kExpeditedDownload | (unused << 2)), object);
  std::copy(value.begin(), value.end(), frame.Data + 4);
  m_pending = object;
  return Send(frame);
}

bool CObjectTransfer::DownloadSegmented(DriveObject object, std::span<const std::uint8_t> data) {
  if (data.size() > 0xFFFF) return false;  // the initiate frame names the size in 16 bits
  CanFrame frame = ObjectFrame(8, kSegmentedDownload, object);
  PutNumber(frame.Data + 4, static_cast<std::uint32_t>(data.size()), 2);
  if (!Exchange(frame) || !HasBits(frame.Data[0], kDownloadConfirmation) || !Names(frame, object)) return false;
  std::uint8_t toggle = 0;
  std::size_t offset = 0;
  do {
    CanFrame segment = Frame(8, {});
    const std::size_t count = FillSegment(segment, data, offset);
    offset += count;
    const bool last = offset == data.size();
    segment.Data[0] = static_cast<std::uint8_t>(toggle | ((kSegmentBytes - count) << 1) | (last ? kLastSegment : 0));
    if (!Exchange(segment) || !HasBits(segment.Data[0], kSegmentAnswer | toggle)) return false;
    toggle ^= kToggle;
  } while (offset < data.size());
  return true;
}

bool CObjectTransfer::DownloadBlock(DriveObject object, std::span<const std::uint8_t> data) {
  CanFrame frame = ObjectFrame(8, kBlockDownload, object);
  PutNumber(frame.Data + 4, static_cast<std::uint32_t>(data.size()), 4);
  if (!Exchange(frame)) return false;
  // An answer that is not the drive's consent to this object would leave every segment
  // unacknowledged; the transfer stops here instead.
  if (!HasBits(frame.Data[0], kBlockAnswer) || !Names(frame, object)) return false;
  const std::uint8_t blockSize = frame.Data[4];
  if (blockSize < 1 || blockSize > kMaxBlockSize) return false;
  if (!SendBlockSegments(data, blockSize)) return false;

  std::size_t lastCount = data.size() % kSegmentBytes;
  if (lastCount == 0 && !data.empty()) lastCount = kSegmentBytes;
  const std::uint16_t crc = gci::Crc16(data);
  CanFrame end = Frame(8, {static_cast<std::uint8_t>(kBlockEnd | ((kSegmentBytes - lastCount) << 2)),
                           static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8)});
  if (!Exchange(end)) return false;
  return HasBits(end.Data[0], kBlockAnswer) && Names(end, object) && (end.Data[0] & kBlockEndConfirmed) != 0;
}

bool CObjectTransfer::SendBlockSegments(std::span<const std::uint8_t> data, std::uint8_t blockSize) {
  std::size_t offset = 0;
  std::uint8_t sequence = 0;
  bool last = false;
  do {
    CanFrame segment = Frame(8, {});
    const std::size_t count = FillSegment(segment, data, offset);
    offset += count;
    last = offset == data.size();
    ++sequence;
    segment.Data[0] = static_cast<std::uint8_t>(sequence | (last ? kLastBlockSegment : 0));
    if (last && count < kSegmentBytes) segment.Length = static_cast<std::uint8_t>(1 + count);
    if (!Send(segment)) return false;
    if (last || sequence == blockSize) {
      // Each full block, and the last one, is acknowledged with its last sequence number; the
      // block size stays the one the drive named first.
      CanFrame acknowledgement;
      if (!Receive(acknowledgement)) return false;
      const std::uint8_t nextBlockSize = acknowledgement.Data[2];
      if (!HasBits(acknowledgement.Data[0], kBlockAcknowledgement) || acknowledgement.Data[1] != sequence ||
          nextBlockSize < 1 || nextBlockSize > kMaxBlockSize) {
        return false;
      }
      sequence = 0;
    }
  } while (!last);
  return true;
}

bool CObjectTransfer::Send(const CanFrame& frame) { return m_drive.SendFrame(frame); }

bool CObjectTransfer::Receive(CanFrame& frame) { return m_drive.ReceiveFrame(frame, CDrive::kReceiveTimeoutMs); }

bool CObjectTransfer::Exchange(CanFrame& frame) { return Send(frame) && Receive(frame); }
