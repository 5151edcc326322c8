#pragma once
// The drive's tests: a CDrive over a memory transport, with the control unit's answers queued
// in the order the drive reads them (an acknowledgement for every frame sent, a frame or a
// "nothing arrived" for every receive), and helpers that read back what went out: the frames
// passed to the drive and the request messages they carried.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "devices/downloads/download_fixture.h"
#include "devices/servo/drive.h"
#include "devices/servo/gci_message.h"

using Bytes = std::vector<std::uint8_t>;

// One frame the drive sent through the control unit (C3 <id:2> <len> <8 bytes>).
struct SentFrame {
  std::uint16_t Identifier = 0;
  std::uint8_t Length = 0;
  Bytes Data;  // all 8 bytes
  // The bytes the length counts.
  Bytes Valid() const { return Bytes(Data.begin(), Data.begin() + std::min<std::size_t>(Length, 8)); }
};

inline Bytes LittleEndian(std::uint32_t value, std::size_t width) {
  Bytes bytes;
  for (std::size_t i = 0; i < width; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  return bytes;
}

// A message as the drive answers it: the header with the four parameters, then the payload.
struct MessageFields {
  std::uint8_t Type = gci::kGetSegmentSize;
  std::uint8_t Handle = 0;
  std::uint16_t Status = 0;
  std::uint32_t Parameters[4] = {};
  Bytes Payload;
  std::uint8_t Flags = 0;
  std::uint8_t Marker = gci::kMarker;
};

inline Bytes Message(const MessageFields& fields) {
  Bytes bytes = {fields.Marker, fields.Type, fields.Flags, fields.Handle};
  for (std::uint8_t b : LittleEndian(gci::kLengthBase + static_cast<std::uint32_t>(fields.Payload.size()), 4)) bytes.push_back(b);
  for (std::uint8_t b : LittleEndian(fields.Status, 2)) bytes.push_back(b);
  bytes.push_back(0);
  bytes.push_back(0);
  for (std::uint32_t parameter : fields.Parameters) {
    for (std::uint8_t b : LittleEndian(parameter, 4)) bytes.push_back(b);
  }
  bytes.insert(bytes.end(), fields.Payload.begin(), fields.Payload.end());
  return bytes;
}

inline std::uint32_t NumberAt(const Bytes& bytes, std::size_t offset, std::size_t width = 4) {
  std::uint32_t value = 0;
  for (std::size_t i = width; i-- > 0;) value = (value << 8) | bytes.at(offset + i);
  return value;
}

// The control unit's answers for a drive under test, queued in reading order.
class CDriveScript {
 public:
  explicit CDriveScript(CMemoryStream& stream) : m_stream(stream) {}

  // The unit passed the frame on ("!"), or refused it.
  void Accept() { m_stream.Answer({CStreamIO::kAck}); }
  void Refuse() { m_stream.Answer({CStreamIO::kRefusal}); }
  // A frame from the drive for the next receive.
  void Frame(const Bytes& data, std::uint8_t length = 8) {
    Bytes answer = {CStreamIO::kAck, 0x05, 0x81, length};
    Bytes eight = data;
    eight.resize(8, 0);
    answer.insert(answer.end(), eight.begin(), eight.end());
    m_stream.Answer(answer);
  }
  // The next receive gets nothing within the time-out.
  void NoFrame() { m_stream.Answer({0x00}); }
  // A frame sent and its answer received.
  void Exchange(const Bytes& answer) {
    Accept();
    Frame(answer);
  }

  // The upload request of a code value and its expedited answer (`value`: 1, 2 or 4 bytes).
  void CodeValue(int code, int subindex, const Bytes& value) {
    Bytes answer = Object(static_cast<std::uint8_t>(0x43 | ((4 - value.size()) << 2)), gci::CodeObjectIndex(code), subindex);
    answer.insert(answer.end(), value.begin(), value.end());
    Exchange(answer);
  }
  void CodeValue32(int code, int subindex, std::uint32_t value) { CodeValue(code, subindex, LittleEndian(value, 4)); }
  // A written code value confirmed.
  void Confirm(int code, int subindex) { Exchange(Object(0x60, gci::CodeObjectIndex(code), subindex)); }

  // The upload request of an object answered with `data` in segments; `total` is the size the
  // drive names (the data's size unless given).
  void SegmentedUpload(std::uint16_t index, std::uint8_t subindex, const Bytes& data, long total = -1) {
    Bytes initiate = Object(0x41, index, subindex);
    for (std::uint8_t b : LittleEndian(static_cast<std::uint32_t>(total < 0 ? data.size() : total), 4)) initiate.push_back(b);
    Exchange(initiate);
    std::uint8_t toggle = 0;
    std::size_t offset = 0;
    do {
      const std::size_t count = std::min<std::size_t>(7, data.size() - offset);
      const bool last = offset + count == data.size();
      Bytes segment = {static_cast<std::uint8_t>(toggle | ((7 - count) << 1) | (last ? 1 : 0))};
      segment.insert(segment.end(), data.begin() + static_cast<long>(offset), data.begin() + static_cast<long>(offset + count));
      Exchange(segment);
      offset += count;
      toggle ^= 0x10;
    } while (offset < data.size());
  }
  void StringValue(int code, int subindex, const std::string& text) {
    SegmentedUpload(gci::CodeObjectIndex(code), static_cast<std::uint8_t>(subindex), Bytes(text.begin(), text.end()));
  }

  // The drive takes a message of `size` bytes by segmented download.
  void SegmentedDownload(std::size_t size) {
    Exchange(Object(0x60, gci::kMessageChannelIndex, 0));
    std::uint8_t toggle = 0;
    for (std::size_t offset = 0; offset < size; offset += 7) {
      Exchange({static_cast<std::uint8_t>(0x20 | toggle)});
      toggle ^= 0x10;
    }
  }
  // The drive takes a message of `size` bytes by block download in blocks of `blockSize`.
  void BlockDownload(std::size_t size, std::uint8_t blockSize = 127) {
    Bytes initiate = Object(0xA4, gci::kMessageChannelIndex, 0);
    initiate.push_back(blockSize);
    Exchange(initiate);
    std::uint8_t sequence = 0;
    for (std::size_t offset = 0; offset < size; offset += 7) {
      Accept();
      ++sequence;
      if (sequence == blockSize || offset + 7 >= size) {
        Frame({0xA2, sequence, blockSize});
        sequence = 0;
      }
    }
    Exchange(Object(0xA1, gci::kMessageChannelIndex, 0));
  }
  // A whole request of `type` and `requestSize` bytes taken by the drive, and `answer` uploaded.
  void Request(std::uint8_t type, std::size_t requestSize, const Bytes& answer) {
    if (type >= gci::kOpenFile && type <= gci::kWriteFile) {
      BlockDownload(requestSize);
    } else {
      SegmentedDownload(requestSize);
    }
    SegmentedUpload(gci::kMessageChannelIndex, 0, answer);
  }

  static Bytes Object(std::uint8_t command, std::uint16_t index, int subindex) {
    return {command, static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8), static_cast<std::uint8_t>(subindex)};
  }

 private:
  CMemoryStream& m_stream;
};

// The frames the drive sent, in order.
inline std::vector<SentFrame> SentFrames(const CMemoryStream& stream) {
  std::vector<SentFrame> frames;
  for (const Bytes& packet : stream.packets) {
    if (packet.size() != 12 || packet[0] != 0xC3) continue;
    frames.push_back({static_cast<std::uint16_t>((packet[1] << 8) | packet[2]), packet[3], Bytes(packet.begin() + 4, packet.end())});
  }
  return frames;
}

// The request messages the frames carried by segmented (21 ...) and block (C6 ...) download.
inline std::vector<Bytes> SentMessages(const CMemoryStream& stream) {
  std::vector<Bytes> messages;
  const std::vector<SentFrame> frames = SentFrames(stream);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const std::uint8_t command = frames[i].Data[0];
    if (command != 0x21 && command != 0xC6) continue;
    const std::size_t size = NumberAt(frames[i].Data, 4, command == 0x21 ? 2 : 4);
    Bytes message;
    for (++i; i < frames.size() && message.size() < size; ++i) {
      const std::size_t count = std::min<std::size_t>(7, size - message.size());
      message.insert(message.end(), frames[i].Data.begin() + 1, frames[i].Data.begin() + 1 + static_cast<long>(count));
    }
    --i;
    messages.push_back(message);
  }
  return messages;
}

// A drive over a memory transport, its log of its own, the virtual clock and the scripted
// user interface; the request table installed as the download sequence does.
class DriveTest : public DownloadTest {
 protected:
  DriveTest() : m_drive(m_log), m_script(*m_drive.memory) { m_drive.InstallGci(); }

  CMemoryStream& Memory() { return *m_drive.memory; }
  std::vector<SentFrame> Frames() { return SentFrames(Memory()); }
  std::vector<Bytes> Messages() { return SentMessages(Memory()); }
  std::string LogText() const { return m_log.Text(); }

  CDownloadLog m_log;
  CMemoryInterface<CDrive> m_drive;
  CDriveScript m_script;
};
