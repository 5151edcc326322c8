// The C28xx room holds what is built of the family so far: its region table and the `inspect`
// kind of its word-addressed HEX images. Its transport is the catalog-named USB transport;
// its updater and program download come with the family.

#include "devices/c28xx/flash_regions_c28xx.h"
#include "image/hex_file_reader16.h"
#include "image/image_listing.h"
#include "platform/text_format.h"

namespace {

CImageLoadError ListWordImage(const std::string& path, FlashRegionTable /*table*/, IImageListingSink& sink) {
  CIntelHexFileReader16 reader;
  if (!reader.Open(path)) return reader.LastError();
  CFlashSeg16Array segments;
  std::uint32_t total = reader.LoadSegments(segments, kFlashRegionsC28xx);
  if (reader.Failed()) return reader.LastError();
  std::vector<std::uint8_t> bytes;
  for (const auto& segment : segments) {
    // Words leave low byte first, as they stand in the HEX file.
    bytes.clear();
    for (std::uint32_t i = 0; segment->IsSent() && i < segment->Size; ++i) {
      bytes.push_back(static_cast<std::uint8_t>(segment->Data[i] & 0xFF));
      bytes.push_back(static_cast<std::uint8_t>(segment->Data[i] >> 8));
    }
    sink.Unit(FormatText("segment 0x%06X-0x%06X count 0x%X kind %u%s", segment->Start, segment->End,
                         segment->Size, segment->Kind, segment->IsSent() ? "" : " not sent"),
              bytes);
  }
  sink.Summary(FormatText("total 0x%X", total));
  return {};
}

const RegisterImageKind g_hex16("hex16", ListWordImage);

}  // namespace
