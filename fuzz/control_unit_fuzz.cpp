// The servo trainer's control unit on arbitrary answers: its own byte commands (identity,
// switch state, unit code values, drive number, application version, the two channels with
// their settling waits) and the drive frames it passes (link open and close, frames sent and
// received), in an order the input picks; then the drive's message layout on the same bytes.
// The input is the number of operations, the operations, then everything the unit answers.
// Checked: each command goes out as its bytes (numbers big-endian, the frame's 8 data bytes
// whole); a received frame holds exactly the answer's identifier, length and data, and a frame
// that did not arrive is left untouched; the settling loops read at most eleven times; a
// message's payload is what its length field claims and lies within the message.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "../tests/support/memory_stream.h"
#include "devices/servo/drive.h"
#include "devices/servo/gci_packet.h"
#include "fuzz_support.h"
#include "platform/clock.h"
#include "transport/stream_exception.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The unit's answers all wait in the input from the start; clearing the input finds nothing
// that arrived earlier, so it leaves them there.
class CUnitStream : public CMemoryStream {
 public:
  void ClearInput() override { ++clears; }
};

class CFedDrive : public CDrive {
 public:
  CFedDrive(CDownloadLog& log, const std::uint8_t* answers, std::size_t size) : CDrive(log) {
    auto stream = std::make_unique<CUnitStream>();
    stream->Open();
    stream->Answer(Bytes(answers, answers + size));
    m_unit = stream.get();
    m_stream = std::move(stream);
  }
  CUnitStream& Unit() { return *m_unit; }

 private:
  CUnitStream* m_unit = nullptr;
};

// What one operation wrote, compared with what it must have written (a prefix of it when the
// answers ran out in between).
void ExpectWritten(const CUnitStream& unit, std::size_t from, const Bytes& expected, bool raised) {
  const Bytes written(unit.written.begin() + static_cast<long>(from), unit.written.end());
  if (raised ? !std::equal(written.begin(), written.end(), expected.begin(), expected.begin() + static_cast<long>(std::min(written.size(), expected.size()))) || written.size() > expected.size()
             : written != expected) {
    std::abort();
  }
}

// The next `count` answers; zeros stand for those that are not there (the read then raises).
Bytes Coming(const CUnitStream& unit, std::size_t count) {
  Bytes bytes(count, 0);
  std::copy_n(unit.input.begin(), std::min(count, unit.input.size()), bytes.begin());
  return bytes;
}

Bytes Word(std::uint8_t command, std::int16_t value) {
  const auto bits = static_cast<std::uint16_t>(value);
  return {command, static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)};
}

void RunOperation(CFedDrive& drive, std::uint8_t op) {
  CUnitStream& unit = drive.Unit();
  const std::size_t from = unit.written.size();
  const std::size_t available = unit.input.size();
  const unsigned parameter = op / 12u;
  Bytes expected;
  bool raised = false;
  try {
    switch (op % 12) {
      case 0:
        expected = {0x91};
        drive.Identify();
        break;
      case 1: {
        // Every "wrong position" answer asks once more; the silent person says OK each time.
        const bool run = parameter % 2 == 1;
        const bool done = drive.CheckSwitchState(run);
        (void)done;
        const std::size_t asked = unit.written.size() - from;
        expected.assign(asked, 0x90);
        if (asked == 0 || asked > available + 1) std::abort();
        break;
      }
      case 2: {
        std::uint32_t value = 0xDEADBEEF;
        const unsigned code = 3000 + parameter;
        const Bytes coming = Coming(unit, 5);
        expected = {0xA4, static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code),
                    static_cast<std::uint8_t>(parameter % 7)};
        const bool delivered = drive.ReadUnitCodeValue(code, parameter % 7, value);
        // Four bytes of value, big-endian, then the status: "?" for not delivered.
        if (value != ((std::uint32_t{coming[0]} << 24) | (coming[1] << 16) | (coming[2] << 8) | coming[3])) std::abort();
        if (delivered != (coming[4] != CStreamIO::kRefusal)) std::abort();
        break;
      }
      case 3: {
        const Bytes coming = Coming(unit, 6);
        // The number, then code 3028, subindex 0 for any drive attached.
        expected = {0xC0, 0xA4, 0x0B, 0xD4, 0x00};
        const std::uint8_t number = drive.GetDriveNumber();
        if (coming[0] == 0) expected.resize(1);
        if (coming[0] != 0) {
          // Drives 1 and 2 count as 5 and 6 when the code reads 60 and was delivered.
          const std::uint32_t value = (std::uint32_t{coming[1]} << 24) | (coming[2] << 16) | (coming[3] << 8) | coming[4];
          const bool moved = (coming[0] == 1 || coming[0] == 2) && value == 60 && coming[5] != CStreamIO::kRefusal;
          if (number != (moved ? coming[0] + 4 : coming[0])) std::abort();
        } else if (number != 0) {
          std::abort();
        }
        break;
      }
      case 4:
        expected = drive.GetFirmwareVersion() >= CKinetra::kFirstApplicationFirmware && !drive.Identity().empty()
                       ? Bytes{0xB2}
                       : Bytes{};
        drive.GetApplicationVersion();
        break;
      case 5: {
        const double value = static_cast<std::int16_t>(parameter * 1234 - 9000);
        expected = Word(0x95, static_cast<std::int16_t>(value));
        drive.SetChannel1(value);
        break;
      }
      case 6: {
        const double value = (static_cast<int>(parameter) - 10) * 3.257;
        expected = Word(0x96, static_cast<std::int16_t>(std::trunc(value * 100.0)));
        drive.SetChannel2(value);
        break;
      }
      case 7: {
        const double value = static_cast<double>(parameter) * 150.0;
        drive.SetChannel1AndWait(value);
        // 95 and the value, then one-byte reads.
        const std::size_t reads = unit.written.size() - from - 3;
        if (reads < 2 || reads > 12) std::abort();
        expected = Word(0x95, static_cast<std::int16_t>(value));
        expected.insert(expected.end(), reads, 0x97);
        break;
      }
      case 8: {
        const double value = static_cast<double>(parameter) * 0.5;
        drive.SetChannel2AndWait(value);
        // One read, 96 and the value, then the settling reads.
        const std::size_t reads = unit.written.size() - from - 3;
        if (reads < 2 || reads > 11) std::abort();
        const Bytes set = Word(0x96, static_cast<std::int16_t>(std::trunc(value * 100.0)));
        expected = {0x98};
        expected.insert(expected.end(), set.begin(), set.end());
        expected.insert(expected.end(), reads - 1, 0x98);
        break;
      }
      case 9:
        expected = {static_cast<std::uint8_t>(parameter % 2 == 0 ? 0xC1 : 0xC2)};
        (parameter % 2 == 0 ? drive.OpenDriveLink() : drive.CloseDriveLink());
        break;
      case 10: {
        CanFrame frame;
        frame.Length = static_cast<std::uint8_t>(parameter % 9);
        for (std::uint8_t i = 0; i < 8; ++i) frame.Data[i] = static_cast<std::uint8_t>(op + i);
        drive.SelectNode(static_cast<int>(parameter % 4) + 1);
        const unsigned identifier = 0x600 + parameter % 4 + 1;
        expected = {0xC3, static_cast<std::uint8_t>(identifier >> 8), static_cast<std::uint8_t>(identifier), frame.Length};
        expected.insert(expected.end(), std::begin(frame.Data), std::end(frame.Data));
        drive.SendFrame(frame);
        break;
      }
      default: {
        CanFrame frame;
        frame.Identifier = 0x1234;
        frame.Length = 0x55;
        std::fill(std::begin(frame.Data), std::end(frame.Data), 0x66);
        const unsigned timeout = parameter * 97;
        expected = {0xC4, static_cast<std::uint8_t>(timeout >> 8), static_cast<std::uint8_t>(timeout)};
        const std::vector<std::uint8_t> coming(unit.input.begin(),
                                               unit.input.begin() + static_cast<long>(std::min<std::size_t>(12, unit.input.size())));
        try {
          const bool arrived = drive.ReceiveFrame(frame, timeout);
          if (arrived) {
            if (coming.size() < 12 || coming[0] != 0x21) std::abort();
            if (frame.Identifier != ((coming[1] << 8) | coming[2]) || frame.Length != coming[3] ||
                !std::equal(coming.begin() + 4, coming.end(), frame.Data)) {
              std::abort();
            }
          } else if (frame.Identifier != 0x1234 || frame.Length != 0x55 || frame.Data[7] != 0x66) {
            std::abort();
          }
        } catch (const CStreamException&) {
          if (frame.Identifier != 0x1234 || frame.Length != 0x55 || frame.Data[0] != 0x66) std::abort();
          throw;
        }
        break;
      }
    }
  } catch (const CStreamException&) {
    raised = true;
    // Only answers that ran out raise, or an identity that never ends.
    if (unit.input.size() != 0 && op % 12 != 0) std::abort();
    if (op % 12 == 1 || op % 12 == 7 || op % 12 == 8) return;  // the loops' writes are not counted on a raise
  }
  ExpectWritten(unit, from, expected, raised);
}

// The drive's message layout on the same bytes.
void CheckMessage(const std::uint8_t* data, std::size_t size) {
  const CGciPacket packet(Bytes(data, data + size));
  const auto payload = packet.Payload();
  if (packet.IsWellFormed()) {
    const std::uint32_t length = packet.Number(gci::kLengthOffset);
    if (payload.size() != length - gci::kLengthBase) std::abort();
    if (payload.data() != packet.Bytes().data() + gci::kHeaderSize) std::abort();
    if (gci::kHeaderSize + payload.size() > size) std::abort();
    (void)packet.Status();
    (void)packet.DataType();
  } else if (!payload.empty()) {
    std::abort();
  }
  CGciPacket copy = packet;
  for (std::size_t offset : {std::size_t{0}, gci::kParameter1Offset, size >= 4 ? size - 4 : 0, size}) {
    try {
      copy.SetNumber(offset, 0x89ABCDEF);
      if (copy.Number(offset) != 0x89ABCDEF || copy.Number(offset, 2) != 0xCDEF) std::abort();
    } catch (const std::out_of_range&) {
      if (offset + 4 <= size) std::abort();  // refused only outside the message
    }
  }
  const std::size_t payloadSize = size % 64;
  const CGciPacket request = CGciPacket::Request(gci::kReadFile, static_cast<std::uint8_t>(size), payloadSize);
  if (!request.IsWellFormed() || request.Payload().size() != payloadSize || request.Byte(0) != gci::kMarker ||
      request.Type() != gci::kReadFile || request.Flags() != 0 || request.Status() != 0) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CSilentUserInterface ui;
  static CVirtualClock clock;
  SetUserInterface(&ui);
  SetClock(&clock);
  clock.ClearWaits();
  if (size < 1) return 0;
  const std::size_t opCount = std::min<std::size_t>(data[0] % 33, size - 1);
  CDownloadLog log;
  CFedDrive drive(log, data + 1 + opCount, size - 1 - opCount);
  for (std::size_t i = 0; i < opCount; ++i) RunOperation(drive, data[1 + i]);
  drive.CloseDevice();
  CheckMessage(data, size);
  return 0;
}
