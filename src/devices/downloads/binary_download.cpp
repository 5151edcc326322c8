#include "devices/downloads/binary_download.h"

#include <optional>

#include "image/binary_image.h"
#include "image/image_listing.h"
#include "platform/anim_wait.h"
#include "platform/text_format.h"
#include "transport/stream_io.h"
#include "updater/stop_request.h"

namespace {

constexpr std::uint8_t kBinaryCommand = 0x1D;
constexpr std::uint8_t kBinaryStart = 0x01;
constexpr std::uint8_t kBinaryBlock = 0x02;
constexpr std::uint8_t kBinaryEnd = 0x12;

CImageLoadError ListBinaryImage(const std::string& path, FlashRegionTable /*table*/, IImageListingSink& sink) {
  CBinaryImage image;
  if (!image.Load(path)) return image.LastError();
  for (std::size_t i = 0; i < image.BlockCount(); ++i) {
    sink.Unit(FormatText("block %zu at 0x%08X length %zu", i, image.BlockAddress(i), image.BlockLength(i)),
              image.Block(i));
  }
  return {};
}

const RegisterImageKind g_binary("binary", ListBinaryImage);

}  // namespace

bool ProgramBinaryBlocks(CStreamIO& stream, const std::string& path) {
  std::optional<CAnimWait> animation(std::in_place);
  CImageFile file;
  if (!file.Open(path)) {
    // A missing file fails quietly, as it always has; what is there but cannot be read (a
    // pipe, a device, a file without read permission) is said.
    if (file.OpenFailure() == CInputFile::EFailure::NotFound) return false;
    animation.reset();
    ShowImageRefusal(file.LastError());
    return false;
  }
  CBinaryImage image;
  if (!image.Load(file)) {
    animation.reset();
    ShowImageRefusal(image.LastError());
    return false;
  }
  const std::uint8_t start[] = {kBinaryCommand, kBinaryStart};
  stream.Write(start, sizeof start);
  stream.ExpectAck();
  for (std::size_t block = 0; block < image.BlockCount(); ++block) {
    StopIfRequested();
    const std::uint32_t address = image.BlockAddress(block);
    animation->SetText("Writing %d Bytes at 0x%8X", static_cast<int>(image.BlockLength(block)), address);
    const std::uint8_t command[] = {kBinaryCommand, kBinaryBlock};
    stream.Write(command, sizeof command);
    stream.WriteDWord(address);
    stream.ExpectAck();
    stream.Write(image.Block(block).data(), static_cast<unsigned>(image.Block(block).size()));
    stream.ExpectAck();
  }
  stream.WriteByte(kBinaryEnd);
  stream.ExpectAck();
  return true;
}
