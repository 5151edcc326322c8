#pragma once
// Demo firmware: images for the simulated devices, made here rather than taken from anywhere.
// Each updater class with a writer gets an image in the form its download reads, filled with
// pseudo-random bytes that follow from the class name and the version alone, and carrying the
// version tag (firmware_version_tag.h, followed by a zero byte) 0x200 bytes into its first
// segment or block, so a simulated device reports the version it was given.
//
//   class         form                      layout
//   CUpdater2A1   segment image, table A    5 segments, kind 1: 0x04000 (6.5 KiB, the tag),
//                                           0x06000 (2 KiB), 0x08000 (12 KiB), 0x10000
//                                           (16 KiB), 0x20000 (0x2C40 bytes)
//   CUpdater2A2   segment image, table B    0x06000 (7 KiB, kind 1, the tag), 0x08000 (4 KiB,
//                                           1), 0x18000 (12 KiB, 2), 0x20000 (2.25 KiB, 1),
//                                           0x28000 (16 KiB, 2)
//   CUpdater2A3   Intel HEX, below 1 MiB    9 non-blank 4 KiB blocks: 0-2 (the tag), 5, 16-17,
//                                           42-43 (extended linear addresses), 140 (an
//                                           extended segment address); blank blocks between
//   CUpdater2AB   raw binary                7 blocks of 4 KiB and a last one of 1400 bytes
//
// Every segment is even in size, well under 64 KiB, and its last byte is not 0xFF, so the
// reader sends exactly the bytes written. A further family adds a line to the writer table in
// demo_firmware.cpp.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The offset of the version tag in the first segment or block.
inline constexpr std::size_t kDemoFirmwareTagOffset = 0x200;

// True when `className` has a writer.
bool HasDemoFirmware(const std::string& className);
// The image for `className` at `version`; nothing when the class has no writer.
std::optional<std::string> DemoFirmwareImage(const std::string& className, std::uint16_t version);

enum class EDemoFirmwareResult { Written, Unchanged, Skipped };

// Writes the image to `path`, creating its folders; a file that already holds exactly these
// bytes is left as it is (Unchanged), so a build step that runs again changes nothing.
// Throws std::invalid_argument for a class without a writer, std::runtime_error (or
// std::filesystem::filesystem_error) when the file cannot be written.
EDemoFirmwareResult WriteDemoFirmware(const std::string& className, std::uint16_t version,
                                      const std::filesystem::path& path);

// What became of one Device of a catalog.
struct CDemoFirmwareFile {
  std::string DeviceId;
  std::string ClassName;
  std::uint16_t Version = 0;
  std::filesystem::path Path;  // empty when skipped before the path was known
  std::size_t Size = 0;        // the image's bytes, when written or unchanged
  EDemoFirmwareResult Result = EDemoFirmwareResult::Skipped;
  std::string Note;  // why it was skipped
};

// For every Device of the catalog at `catalog` whose RTC class has a writer, writes its
// Firmware File (relative to the catalog's folder, "\" a separator too) with the catalog's
// Firmware Version. Devices whose class has no writer, that name no Version or File, or that
// name a file an earlier Device of the catalog already named, are skipped with a note. Throws
// CSimError when the catalog cannot be read or is not well-formed, and what WriteDemoFirmware
// throws.
std::vector<CDemoFirmwareFile> MakeDemoFirmware(const std::filesystem::path& catalog);

// One line for a report: "wrote PATH  (ID, CLASS, version V, N bytes)", "unchanged PATH  (…)",
// or "skipped ID  (CLASS): NOTE".
std::string DescribeDemoFirmwareFile(const CDemoFirmwareFile& file);
