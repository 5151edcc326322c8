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

void WriteBlockHeader(CStreamIO& stream, std::uint32_t offset, const CHexBlockFormat& format) {
  stream.WriteByte(kBlockCommand);
  if (format.LowByteFirst) {
    const std::uint8_t header[] = {static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(offset >> 8),
                                   static_cast<std::uint8_t>(offset >> 16), static_cast<std::uint8_t>(offset >> 24)};
    stream.Write(header, sizeof header);
  } else {
    stream.WriteDWord(offset);
  }
  const std::uint8_t length[] = {static_cast<std::uint8_t>(format.LowByteFirst ? kHexBlockSize : kHexBlockSize >> 8),
                                 static_cast<std::uint8_t>(format.LowByteFirst ? kHexBlockSize >> 8 : kHexBlockSize)};
  stream.Write(length, sizeof length);
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
