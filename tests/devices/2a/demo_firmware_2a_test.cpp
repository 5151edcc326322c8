// The demo firmware images, read back with the readers the host's downloads use, and
// tavrix-devsim --make-firmware on a catalog.

#include "devices/2a/flash_regions_2a.h"
#include "devices/downloads/region_table_a.h"
#include "sim/demo_firmware.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "image/binary_image.h"
#include "image/flash_seg.h"
#include "image/hex_file_reader.h"
#include "image/image_file.h"
#include "sim/firmware_version_tag.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

enum class EForm { Segments, Hex, Binary };

struct ClassCase {
  const char* ClassName;
  EForm Form;
  FlashRegionTable Table;              // segment images only
  std::set<std::uint16_t> SegmentKinds;  // segment images only
};

const ClassCase kClasses[] = {
    {"CUpdater2A1", EForm::Segments, kFlashRegionsA, {1}},
    {"CUpdater2A2", EForm::Segments, kFlashRegionsB, {1, 2}},
    {"CUpdater2A3", EForm::Hex, {}, {}},
    {"CUpdater2AB", EForm::Binary, {}, {}},
};

// The data bytes of all records of a segment image, by walking its length fields.
std::uint64_t SegmentRecordBytes(const std::string& image) {
  std::uint64_t total = 0;
  for (std::size_t at = 0; at + 8 <= image.size();) {
    std::uint32_t length = 0;
    std::memcpy(&length, image.data() + at + 4, 4);  // little-endian, as this machine
    total += length;
    at += 8 + length;
  }
  return total;
}

// The segments a segment download would send, each as the bytes sent.
std::vector<Bytes> LoadSegments(const std::string& image, const ClassCase& c) {
  CImageFile file;
  file.OpenMemory(image, "image");
  CFlashSegArray segments;
  std::uint32_t total = ReadSegmentFile(file, segments, c.Table);
  EXPECT_FALSE(file.LastError().IsSet()) << file.LastError().Message();
  // Nothing trimmed: every byte written is sent.
  EXPECT_EQ(total, SegmentRecordBytes(image));
  EXPECT_GE(segments.size(), 2u);
  std::set<std::uint16_t> kinds;
  std::vector<Bytes> sent;
  for (const auto& segment : segments) {
    EXPECT_NE(segment->Kind, 0) << std::hex << segment->Start;
    EXPECT_NE(segment->Size, 0u) << std::hex << segment->Start;
    EXPECT_LT(segment->Size, 65536u) << std::hex << segment->Start;  // the header holds 16 bits
    // The reader cuts trailing 0xFF bytes; a segment that ends in one depends on the rounding.
    if (segment->Size > 0) {
      EXPECT_NE(segment->Data[segment->Size - 1], 0xFF) << std::hex << segment->Start;
    }
    kinds.insert(segment->Kind);
    sent.emplace_back(segment->Data.begin(), segment->Data.begin() + segment->Size);
  }
  EXPECT_EQ(kinds, c.SegmentKinds);
  return sent;
}

// The non-blank 4 KiB blocks a block download would send.
std::vector<Bytes> LoadHexBlocks(const std::string& image) {
  CIntelHexFileReader reader;
  reader.OpenMemory(image, "image");
  EXPECT_TRUE(reader.AllocImage(CIntelHexFileReader::kImageSize));
  EXPECT_TRUE(reader.ReadImage()) << reader.LastError().Message();
  const Bytes& memory = reader.Image();
  std::vector<Bytes> sent;
  std::string pattern;  // one letter per block: D data, B blank
  for (std::size_t offset = 0; offset < memory.size(); offset += 4096) {
    auto block = std::span(memory).subspan(offset, 4096);
    bool blank = std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0xFF; });
    pattern += blank ? 'B' : 'D';
    if (!blank) sent.emplace_back(block.begin(), block.end());
  }
  EXPECT_NE(pattern.find("DB"), std::string::npos) << pattern;
  EXPECT_NE(pattern.find_last_of('D'), pattern.find_first_of('D')) << pattern;
  // Data above 64 KiB: the extended address records were read as meant.
  EXPECT_GE(pattern.find_last_of('D'), 16u) << pattern;
  return sent;
}

// The 4 KiB blocks a binary download would send.
std::vector<Bytes> LoadBinaryBlocks(const std::string& bytes) {
  CImageFile file;
  file.OpenMemory(bytes, "image");
  CBinaryImage image;
  EXPECT_TRUE(image.Load(file)) << image.LastError().Message();
  EXPECT_GE(image.BlockCount(), 2u);
  std::vector<Bytes> sent;
  for (std::size_t i = 0; i < image.BlockCount(); ++i) sent.emplace_back(image.Block(i).begin(), image.Block(i).end());
  if (image.BlockCount() > 0) {
    std::size_t last = image.BlockLength(image.BlockCount() - 1);
    EXPECT_GT(last, 0u);
    EXPECT_LT(last, CBinaryImage::kBlockSize);
  }
  return sent;
}

std::vector<Bytes> Load(const std::string& image, const ClassCase& c) {
  switch (c.Form) {
    case EForm::Segments:
      return LoadSegments(image, c);
    case EForm::Hex:
      return LoadHexBlocks(image);
    case EForm::Binary:
      break;
  }
  return LoadBinaryBlocks(image);
}

// Many versions, so that the random bytes meet the cases a single image would meet only by
// chance: a segment ending in 0xFF, a digit right after the version number.
TEST(DemoFirmware, EveryImageLoadsWholeWithTheHostsReaderAndCarriesItsVersionInItsFirstPiece) {
  std::vector<std::uint16_t> versions{65535};
  for (std::uint16_t v = 0; v < 256; ++v) versions.push_back(v);
  for (const ClassCase& c : kClasses) {
    for (std::uint16_t version : versions) {
      SCOPED_TRACE(std::string(c.ClassName) + " version " + std::to_string(version));
      std::optional<std::string> image = DemoFirmwareImage(c.ClassName, version);
      ASSERT_TRUE(image.has_value());
      std::vector<Bytes> sent = Load(*image, c);
      ASSERT_FALSE(sent.empty());
      // The tag lies whole in the first segment or block, and nowhere else.
      EXPECT_EQ(FindFirmwareVersionTag(sent.front()), version);
      for (std::size_t i = 1; i < sent.size(); ++i) EXPECT_EQ(FindFirmwareVersionTag(sent[i]), std::nullopt) << i;
      if (HasFailure()) return;  // one image's failures are enough
    }
  }
}

TEST(DemoFirmware, ImagesFollowFromClassAndVersionAlone) {
  std::set<std::string> images;
  for (const ClassCase& c : kClasses) {
    std::optional<std::string> image = DemoFirmwareImage(c.ClassName, 312);
    ASSERT_TRUE(image.has_value()) << c.ClassName;
    EXPECT_EQ(DemoFirmwareImage(c.ClassName, 312), image) << c.ClassName;
    EXPECT_NE(DemoFirmwareImage(c.ClassName, 313), image) << c.ClassName;
    EXPECT_LT(image->size(), 256u * 1024) << c.ClassName;
    images.insert(*image);
  }
  EXPECT_EQ(images.size(), std::size(kClasses));
  EXPECT_EQ(DemoFirmwareImage("CUpdaterUnknown", 312), std::nullopt);
  EXPECT_FALSE(HasDemoFirmware("CUpdater2A"));
}

TEST(DemoFirmware, AFileIsWrittenWithItsFoldersAndRewrittenOnlyWhenItsContentDiffers) {
  CTempFolder folder;
  std::string path = folder / "fw/image.bin";
  EXPECT_EQ(WriteDemoFirmware("CUpdater2AB", 120, path), EDemoFirmwareResult::Written);
  EXPECT_EQ(ReadWholeFile(path), DemoFirmwareImage("CUpdater2AB", 120));
  EXPECT_EQ(WriteDemoFirmware("CUpdater2AB", 120, path), EDemoFirmwareResult::Unchanged);
  std::string image = ReadWholeFile(path);
  std::string altered = image;
  altered[100] = static_cast<char>(altered[100] ^ 1);  // same size, other bytes
  folder.Write("fw/image.bin", altered);
  EXPECT_EQ(WriteDemoFirmware("CUpdater2AB", 120, path), EDemoFirmwareResult::Written);
  EXPECT_EQ(ReadWholeFile(path), image);
  EXPECT_THROW(WriteDemoFirmware("CUpdaterUnknown", 1, path), std::invalid_argument);
}

// ----- the program

struct ProgramRun {
  int exitCode = -1;
  std::string output;  // standard output and error
};

ProgramRun MakeFirmware(const std::string& catalog) {
  ProgramRun run;
  int status = -1;
  run.output = RunProgram(std::string(TAVRIX_BIN_DIR) + "/tavrix-devsim --make-firmware '" + catalog + "' 2>&1", status);
  if (status != -1 && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  return run;
}

std::string Device(const std::string& id, const std::string& rtc, const std::string& version, const std::string& file) {
  return "<Device Id=\"" + id + "\" RTC=\"" + rtc + "\" USBPID=\"0x7D2A\"><Name>" + id + "</Name><Firmware><Version>" +
         version + "</Version><File>" + file + "</File></Firmware></Device>\n";
}

TEST(DemoFirmware, MakeFirmwareWritesTheFilesTheCatalogNamesAndSkipsOthers) {
  CTempFolder folder;
  std::string catalog = folder.Write(
      "catalog/demo.config",
      "<?xml version=\"1.0\"?>\n<Config><Devices>\n" + Device("A", "CUpdater2A1", "0x10", "fw\\sub\\a.seg") +
          Device("B", "CUpdater2AB", "120", "b.bin") + Device("X", "CUpdaterUnknown", "1", "x.bin") +
          Device("A-again", "CUpdater2A2", "5", "fw/sub/a.seg") + "</Devices></Config>\n");
  std::string a = folder / "catalog/fw/sub/a.seg";
  std::string b = folder / "catalog/b.bin";

  ProgramRun first = MakeFirmware(catalog);
  EXPECT_EQ(first.exitCode, 0) << first.output;
  EXPECT_NE(first.output.find("wrote " + a), std::string::npos) << first.output;
  EXPECT_NE(first.output.find("wrote " + b), std::string::npos) << first.output;
  EXPECT_NE(first.output.find("skipped X  (CUpdaterUnknown)"), std::string::npos) << first.output;
  EXPECT_NE(first.output.find("skipped A-again"), std::string::npos) << first.output;
  EXPECT_EQ(ReadWholeFile(a), DemoFirmwareImage("CUpdater2A1", 16));
  EXPECT_EQ(ReadWholeFile(b), DemoFirmwareImage("CUpdater2AB", 120));
  EXPECT_FALSE(std::filesystem::exists(folder / "catalog/x.bin"));

  ProgramRun second = MakeFirmware(catalog);
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_NE(second.output.find("unchanged " + a), std::string::npos) << second.output;
  EXPECT_NE(second.output.find("unchanged " + b), std::string::npos) << second.output;
  EXPECT_EQ(second.output.find("wrote"), std::string::npos) << second.output;
}

TEST(DemoFirmware, MakeFirmwareRefusesACatalogItCannotRead) {
  CTempFolder folder;
  const std::string catalogs[] = {
      folder / "missing.config",
      folder.Write("broken.config", "<Config><Devices>"),
  };
  for (const std::string& catalog : catalogs) {
    ProgramRun run = MakeFirmware(catalog);
    EXPECT_EQ(run.exitCode, 2) << catalog;
    EXPECT_NE(run.output.find("cannot read the device catalog " + catalog), std::string::npos) << run.output;
  }
}

}  // namespace
