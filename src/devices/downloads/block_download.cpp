#include "devices/downloads/block_download.h"

#include <algorithm>
#include <optional>

#include "image/image_listing.h"
#include "image/image_strings.h"
#include "platform/anim_wait.h"
#include "platform/clock.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "transport/stream_io.h"
#include "updater/stop_request.h"

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

CImageLoadError ListHexImage(const std::string& path, FlashRegionTable /*table*/, IImageListingSink& sink) {
  CIntelHexFileReader reader;
  if (!reader.Open(path)) return reader.LastError();
  CHexBlockPlan plan;
  if (CImageLoadError error = plan.Load(reader); error.IsSet()) return error;
  for (std::uint32_t offset : plan.BlockOffsets()) {
    sink.Unit(FormatText("block %u at 0x%05X", offset / kHexBlockSize, offset),
              std::span(plan.Block(offset), kHexBlockSize));
  }
  return {};
}

const RegisterImageKind g_hex("hex", ListHexImage);

}  // namespace

CImageLoadError CHexBlockPlan::Load(CIntelHexFileReader& reader) {
  m_image = &reader.Image();
  m_offsets.clear();
  // Without the image every record would lie outside it.
  if (!reader.AllocImage(CIntelHexFileReader::kImageSize)) {
    return CImageLoadError::ForFile(reader.FileName(), LoadResString(IDS_IMAGE_OUT_OF_MEMORY));
  }
  if (!reader.ReadImage()) return reader.LastError();
  for (std::uint32_t offset = 0; offset < m_image->size(); offset += kHexBlockSize) {
    const std::uint8_t* block = m_image->data() + offset;
    if (!std::all_of(block, block + kHexBlockSize, [](std::uint8_t b) { return b == 0xFF; })) {
      m_offsets.push_back(offset);
    }
  }
  // Nothing but erased flash: the device would be told "done" without a block sent.
  if (m_offsets.empty()) return CImageLoadError::ForFile(reader.FileName(), LoadResString(IDS_IMAGE_NO_DATA));
  return {};
}

bool ProgramHexBlocks(CStreamIO& stream, const std::string& path, const CHexBlockFormat& format) {
  std::optional<CAnimWait> animation(std::in_place);
  CIntelHexFileReader reader;
  if (!reader.OpenFile(path)) return false;
  CHexBlockPlan plan;
  if (CImageLoadError error = plan.Load(reader); error.IsSet()) {
    // Half an image must never reach the flash: refuse it before the device hears anything.
    animation.reset();
    ShowImageRefusal(error);
    return false;
  }
  stream.WriteByte(kStartCommand);
  Clock().Sleep(format.StartPause);
  for (std::uint32_t offset : plan.BlockOffsets()) {
    StopIfRequested();
    const std::uint8_t* block = plan.Block(offset);
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
