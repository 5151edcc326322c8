#pragma once
// Demo firmware: images for the simulated devices, made here rather than taken from anywhere.
// Each updater class with a writer gets an image in the form its download reads, filled with
// pseudo-random bytes that follow from the class name and the version alone, and carrying the
// version tag (firmware_version_tag.h, followed by a zero byte) 0x200 bytes into its first
// segment or block, so a simulated device reports the version it was given.
//
// A family registers a writer per updater class in its own sim/devices/<family>/ folder,
// built from the forms below:
//
//   const RegisterDemoFirmware g_2a1("CUpdater2A1", [](CDemoBytes& random) {
//     return DemoSegmentImage(kSegments2A1, random);
//   });
//
// Keep every segment even in size and its last byte other than 0xFF, so the reader sends
// exactly the bytes written.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/intel_hex_writer.h"

// The offset of the version tag in the first segment or block.
inline constexpr std::size_t kDemoFirmwareTagOffset = 0x200;

// Pseudo-random bytes that follow from the class name and the version alone. The Mersenne
// twister's output is fixed by the standard, so every build makes the same images.
class CDemoBytes {
 public:
  CDemoBytes(std::string_view className, std::uint16_t version);
  // `count` bytes; the version tag at kDemoFirmwareTagOffset when `withTag`.
  std::vector<std::uint8_t> Next(std::size_t count, bool withTag);

 private:
  static std::uint32_t Seed(std::string_view className, std::uint16_t version);

  std::uint16_t m_version;
  std::mt19937 m_engine;
};

// ----- the forms

struct CDemoSegment {
  std::uint32_t Start;  // the first address of a region of kind 1 or 2
  std::uint32_t Size;   // even, at most the region's size, below 65536
};
// A segment image file: records of at most 1024 bytes in address order, the tag in the first
// segment.
std::string DemoSegmentImage(std::span<const CDemoSegment> plan, CDemoBytes& random);

struct CDemoHexRun {
  std::uint32_t Address;
  std::uint32_t Size;
  CIntelHexWriter::EAddressRecord AddressRecords;
};
// An Intel HEX file of the runs, the tag in the first.
std::string DemoHexImage(std::span<const CDemoHexRun> runs, CDemoBytes& random);

// A raw binary file of `size` bytes, the tag near its start.
std::string DemoBinaryImage(std::size_t size, CDemoBytes& random);

// ----- the writers

using DemoFirmwareWriter = std::function<std::string(CDemoBytes& random)>;
void RegisterDemoFirmwareWriter(const std::string& className, DemoFirmwareWriter writer);

struct RegisterDemoFirmware {
  RegisterDemoFirmware(const std::string& className, DemoFirmwareWriter writer) {
    RegisterDemoFirmwareWriter(className, std::move(writer));
  }
};

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
