#include "devices/hex_block_download.h"

#include <algorithm>
#include <optional>

#include "image/hex_file_reader.h"
#include "platform/clock.h"
#include "transport/stream_io.h"
#include "wizard/anim_wait.h"

namespace {

constexpr std::uint8_t kStartCommand = 0x1F;
constexpr std::uint8_t kBlockCommand = 0x04;
constexpr std::uint8_t kEndCommand = 0x10;

// `size` bytes of `value`, in the format's byte order, as one write.
void WriteOrdered(CStreamIO& stream, std::uint32_t value, unsigned size, bool lowByteFirst) {
  std::uint8_t bytes[4];
  for (unsigned i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>(value >> 8 * (lowByteFirst ? i : size - 1 - i));
  }
  stream.Write(bytes, size);
}

void WriteBlockHeader(CStreamIO& stream, std::uint32_t offset, const CHexBlockFormat& format) {
  stream.WriteByte(kBlockCommand);
  WriteOrdered(stream, offset, 4, format.LowByteFirst);
  WriteOrdered(stream, kHexBlockSize, 2, format.LowByteFirst);
}

}  // namespace

bool ProgramHexBlocks(CStreamIO& stream, const std::string& path, const CHexBlockFormat& format) {
  std::optional<CAnimWait> animation(std::in_place);
  CIntelHexFileReader reader;
  if (!reader.OpenFile(path)) return false;
  reader.AllocImage(CIntelHexFileReader::kImageSize);  // without it every record lies outside
  if (!reader.ReadImage()) {
    // Half an image must never reach the flash: refuse it before the device hears anything.
    animation.reset();
    ShowImageRefusal(reader.LastError());
    return false;
  }
  const std::vector<std::uint8_t>& image = reader.Image();
  stream.WriteByte(kStartCommand);
  Clock().Sleep(format.StartPause);
  for (std::uint32_t offset = 0; offset < image.size(); offset += kHexBlockSize) {
    const std::uint8_t* block = image.data() + offset;
    if (std::all_of(block, block + kHexBlockSize, [](std::uint8_t b) { return b == 0xFF; })) continue;
    animation->SetText("Programming segment %d at %05X\n", static_cast<int>(offset / kHexBlockSize), offset);
    WriteBlockHeader(stream, offset, format);
    stream.ExpectAck();
    stream.Write(block, kHexBlockSize);
    Clock().Sleep(kHexBlockPause);
    stream.ExpectAck();
  }
  stream.WriteByte(kEndCommand);
  return true;
}
