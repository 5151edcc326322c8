#include "console/image_listing_command.h"

#include <algorithm>
#include <optional>
#include <string>

#include "console/sha256.h"
#include "image/binary_image.h"
#include "image/flash_seg.h"
#include "image/hex_file_reader.h"
#include "image/hex_file_reader16.h"
#include "image/image_strings.h"
#include "platform/string_table.h"
#include "platform/text_format.h"

namespace {

constexpr const char* kUsage = "inspect FILE --as segments|hex|hex16|binary [--regions A|B|servo]";
// The block download sends the 1 MiB image in blocks of this size, skipping blank ones.
constexpr std::size_t kHexBlockSize = 4096;

struct InspectOptions {
  std::string file;
  std::string kind;
  std::optional<std::string> regions;
};

// What inspect prints on success, or the failure to print instead.
struct InspectResult {
  std::string lines;
  CImageLoadError error;
};

int UsageError(std::FILE* err, const std::string& what) {
  std::fprintf(err, "tavrix-update-cli inspect: %s\nusage: tavrix-update-cli %s\n", what.c_str(), kUsage);
  return 2;
}

// Parses the arguments; the text of a usage error otherwise.
std::optional<std::string> ParseOptions(const CommandArgs& args, InspectOptions& options) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--as" || arg == "--regions") {
      if (i + 1 == args.size()) return arg + " needs a value";
      (arg == "--as" ? options.kind : options.regions.emplace()) = args[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      return "unknown option '" + arg + "'";
    } else if (options.file.empty()) {
      options.file = arg;
    } else {
      return "more than one file given";
    }
  }
  if (options.file.empty()) return std::string("no file given");
  if (options.kind.empty()) return std::string("--as is missing");
  if (options.regions && options.kind != "segments") return std::string("--regions applies to --as segments only");
  return std::nullopt;
}

std::optional<FlashRegionTable> RegionTableNamed(const std::string& name) {
  if (name == "A") return FlashRegionTable(kFlashRegionsA);
  if (name == "B") return FlashRegionTable(kFlashRegionsB);
  if (name == "servo") return FlashRegionTable(kFlashRegionsServo);
  return std::nullopt;
}

const char* NotSent(std::uint16_t kind) { return kind == FLASH_REGION_NOT_SENT ? " not sent" : ""; }

InspectResult InspectSegments(const std::string& path, FlashRegionTable table) {
  InspectResult result;
  CImageFile file;
  if (!file.Open(path)) return {{}, file.LastError()};
  CFlashSegArray segments;
  std::uint32_t total = ReadSegmentFile(file, segments, table);
  if (file.LastError().IsSet()) return {{}, file.LastError()};

  CSha256 sha;
  for (const auto& segment : segments) {
    result.lines += FormatText("segment 0x%05X-0x%05X size 0x%X kind %u%s\n", segment->Start,
                               segment->End, segment->Size, segment->Kind, NotSent(segment->Kind));
    if (segment->Kind != FLASH_REGION_NOT_SENT) sha.Update(segment->Data.data(), segment->Size);
  }
  result.lines += FormatText("total 0x%X\n", total);
  result.lines += "sha256 " + sha.HexDigest() + "\n";
  return result;
}

InspectResult InspectHex(const std::string& path) {
  InspectResult result;
  CIntelHexFileReader reader;
  if (!reader.Open(path)) return {{}, reader.LastError()};
  if (!reader.AllocImage(CIntelHexFileReader::kImageSize)) {
    return {{}, CImageLoadError::ForFile(path, LoadResString(IDS_IMAGE_OUT_OF_MEMORY))};
  }
  if (!reader.ReadImage()) return {{}, reader.LastError()};

  CSha256 sha;
  const std::vector<std::uint8_t>& image = reader.Image();
  for (std::size_t offset = 0; offset < image.size(); offset += kHexBlockSize) {
    const std::uint8_t* block = image.data() + offset;
    if (std::all_of(block, block + kHexBlockSize, [](std::uint8_t b) { return b == 0xFF; })) continue;
    result.lines += FormatText("block %zu at 0x%05zX\n", offset / kHexBlockSize, offset);
    sha.Update(block, kHexBlockSize);
  }
  result.lines += "sha256 " + sha.HexDigest() + "\n";
  return result;
}

InspectResult InspectHex16(const std::string& path) {
  InspectResult result;
  CIntelHexFileReader16 reader;
  if (!reader.Open(path)) return {{}, reader.LastError()};
  CFlashSeg16Array segments;
  std::uint32_t total = reader.LoadSegments(segments, kFlashRegionsC28xx);
  if (reader.Failed()) return {{}, reader.LastError()};

  CSha256 sha;
  std::vector<std::uint8_t> bytes;
  for (const auto& segment : segments) {
    result.lines += FormatText("segment 0x%06X-0x%06X count 0x%X kind %u%s\n", segment->Start,
                               segment->End, segment->Count, segment->Kind, NotSent(segment->Kind));
    if (segment->Kind == FLASH_REGION_NOT_SENT) continue;
    // Words leave low byte first, as they stand in the HEX file.
    bytes.resize(std::size_t{segment->Count} * 2);
    for (std::uint32_t i = 0; i < segment->Count; ++i) {
      bytes[2 * i] = static_cast<std::uint8_t>(segment->Data[i] & 0xFF);
      bytes[2 * i + 1] = static_cast<std::uint8_t>(segment->Data[i] >> 8);
    }
    sha.Update(bytes.data(), bytes.size());
  }
  result.lines += FormatText("total 0x%X\n", total);
  result.lines += "sha256 " + sha.HexDigest() + "\n";
  return result;
}

InspectResult InspectBinary(const std::string& path) {
  InspectResult result;
  CBinaryImage image;
  if (!image.Load(path)) return {{}, image.LastError()};
  CSha256 sha;
  for (std::size_t i = 0; i < image.BlockCount(); ++i) {
    result.lines += FormatText("block %zu at 0x%08X length %zu\n", i, image.BlockAddress(i),
                               image.BlockLength(i));
    sha.Update(image.Block(i).data(), image.Block(i).size());
  }
  result.lines += "sha256 " + sha.HexDigest() + "\n";
  return result;
}

}  // namespace

int RunInspect(const CommandArgs& args, std::FILE* out, std::FILE* err) {
  InspectOptions options;
  if (std::optional<std::string> problem = ParseOptions(args, options)) return UsageError(err, *problem);

  InspectResult result;
  if (options.kind == "segments") {
    std::optional<FlashRegionTable> table = RegionTableNamed(options.regions.value_or("A"));
    if (!table) return UsageError(err, "unknown region table '" + *options.regions + "'");
    result = InspectSegments(options.file, *table);
  } else if (options.kind == "hex") {
    result = InspectHex(options.file);
  } else if (options.kind == "hex16") {
    result = InspectHex16(options.file);
  } else if (options.kind == "binary") {
    result = InspectBinary(options.file);
  } else {
    return UsageError(err, "unknown kind '" + options.kind + "'");
  }

  if (result.error.IsSet()) {
    std::fprintf(err, "%s\n", result.error.Message().c_str());
    return 2;
  }
  std::fwrite(result.lines.data(), 1, result.lines.size(), out);
  return std::fflush(out) == 0 ? 0 : 1;
}

int RunInspectCommand(const CommandArgs& args) { return RunInspect(args, stdout, stderr); }
