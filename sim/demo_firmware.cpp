#include "sim/demo_firmware.h"

#include <pugixml.hpp>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <span>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "image/flash_seg.h"
#include "platform/text_format.h"
#include "sim/firmware_version_tag.h"
#include "sim/intel_hex_writer.h"
#include "sim/sim_error.h"
#include "updater/device_catalog.h"

namespace {
using Bytes = std::vector<std::uint8_t>;
}  // namespace

CDemoBytes::CDemoBytes(std::string_view className, std::uint16_t version)
    : m_version(version), m_engine(Seed(className, version)) {}

std::vector<std::uint8_t> CDemoBytes::Next(std::size_t count, bool withTag) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; i += 4) {
    std::uint32_t word = static_cast<std::uint32_t>(m_engine());
    for (std::size_t k = 0; k < 4 && i + k < count; ++k) bytes[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
  }
  if (withTag) {
    // The zero byte ends the number, so a digit that happens to follow cannot lengthen it.
    std::string tag = FirmwareVersionTag(m_version) + '\0';
    if (kDemoFirmwareTagOffset + tag.size() > count) throw std::logic_error("no room for the version tag");
    std::copy(tag.begin(), tag.end(), bytes.begin() + kDemoFirmwareTagOffset);
  }
  return bytes;
}

// FNV-1a over the class name, then the version.
std::uint32_t CDemoBytes::Seed(std::string_view className, std::uint16_t version) {
  std::uint32_t hash = 2166136261u;
  auto mix = [&hash](std::uint8_t byte) { hash = (hash ^ byte) * 16777619u; };
  for (char c : className) mix(static_cast<std::uint8_t>(c));
  mix(static_cast<std::uint8_t>(version >> 8));
  mix(static_cast<std::uint8_t>(version));
  return hash;
}

namespace {

// ----- segment images

void AppendLittleEndian(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string DemoSegmentImage(std::span<const CDemoSegment> plan, CDemoBytes& random) {
  std::string image;
  for (std::size_t s = 0; s < plan.size(); ++s) {
    Bytes data = random.Next(plan[s].Size, s == 0);
    // The reader drops trailing 0xFF bytes; the last byte is kept so the segment stays whole.
    if (data.back() == 0xFF) data.back() = 0x00;
    for (std::uint32_t offset = 0; offset < data.size(); offset += kSegmentRecordMax) {
      std::uint32_t length = std::min<std::uint32_t>(kSegmentRecordMax, plan[s].Size - offset);
      AppendLittleEndian(image, plan[s].Start + offset);
      AppendLittleEndian(image, length);
      image.append(data.begin() + offset, data.begin() + offset + length);
    }
  }
  return image;
}

// ----- Intel HEX images

std::string DemoHexImage(std::span<const CDemoHexRun> runs, CDemoBytes& random) {
  CIntelHexWriter hex;
  for (std::size_t r = 0; r < runs.size(); ++r) {
    hex.SetAddressRecords(runs[r].AddressRecords);
    hex.Data(runs[r].Address, random.Next(runs[r].Size, r == 0));
  }
  return hex.Finish();
}

// ----- raw binary images

std::string DemoBinaryImage(std::size_t size, CDemoBytes& random) {
  Bytes data = random.Next(size, true);
  return std::string(data.begin(), data.end());
}

// ----- the writers by updater class, registered by the families

namespace {

std::map<std::string, DemoFirmwareWriter, std::less<>>& Writers() {
  static std::map<std::string, DemoFirmwareWriter, std::less<>> writers;
  return writers;
}

const DemoFirmwareWriter* FindWriter(std::string_view className) {
  auto it = Writers().find(className);
  return it == Writers().end() ? nullptr : &it->second;
}

// ----- files

// True when the file at `path` holds exactly `bytes`.
bool FileHolds(const std::filesystem::path& path, const std::string& bytes) {
  std::error_code error;
  if (std::filesystem::file_size(path, error) != bytes.size() || error) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return content == bytes;
}

// Writes beside the file and renames, so that no half-written image is ever left under its name.
void ReplaceFile(const std::filesystem::path& path, const std::string& bytes) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::filesystem::path temporary = path;
  temporary += ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      throw std::runtime_error("cannot write " + temporary.string());
    }
  }
  std::filesystem::rename(temporary, path);
}

CDemoFirmwareFile Skipped(CDemoFirmwareFile file, std::string note) {
  file.Result = EDemoFirmwareResult::Skipped;
  file.Note = std::move(note);
  return file;
}

// The firmware of one Device; `named` maps each file named so far to its device.
CDemoFirmwareFile MakeDeviceFirmware(const pugi::xml_node& device, const std::string& folder,
                                     std::map<std::filesystem::path, std::string>& named) {
  CDemoFirmwareFile file;
  file.DeviceId = device.attribute("Id").value();
  file.ClassName = device.attribute("RTC").value();
  if (!HasDemoFirmware(file.ClassName)) return Skipped(file, "no demo firmware for this updater class");
  pugi::xml_node firmware = device.child("Firmware");
  pugi::xml_node version = firmware.child("Version");
  std::string name = firmware.child("File").text().get();
  if (!version || name.empty()) return Skipped(file, "the catalog names no firmware Version and File for it");
  file.Version = ParseCatalogNumber(version.text().get());
  file.Path = ResolveFirmwarePath(folder, name);
  auto [earlier, added] = named.emplace(file.Path.lexically_normal(), file.DeviceId);
  if (!added) return Skipped(file, "device " + earlier->second + " names the same file");
  file.Result = WriteDemoFirmware(file.ClassName, file.Version, file.Path);
  file.Size = std::filesystem::file_size(file.Path);
  return file;
}

}  // namespace

void RegisterDemoFirmwareWriter(const std::string& className, DemoFirmwareWriter writer) {
  Writers()[className] = std::move(writer);
}

bool HasDemoFirmware(const std::string& className) { return FindWriter(className) != nullptr; }

std::optional<std::string> DemoFirmwareImage(const std::string& className, std::uint16_t version) {
  const DemoFirmwareWriter* writer = FindWriter(className);
  if (writer == nullptr) return std::nullopt;
  CDemoBytes random(className, version);
  return (*writer)(random);
}

EDemoFirmwareResult WriteDemoFirmware(const std::string& className, std::uint16_t version,
                                      const std::filesystem::path& path) {
  std::optional<std::string> image = DemoFirmwareImage(className, version);
  if (!image) throw std::invalid_argument("no demo firmware for the updater class " + className);
  if (FileHolds(path, *image)) return EDemoFirmwareResult::Unchanged;
  ReplaceFile(path, *image);
  return EDemoFirmwareResult::Written;
}

std::vector<CDemoFirmwareFile> MakeDemoFirmware(const std::filesystem::path& catalog) {
  pugi::xml_document document;
  pugi::xml_parse_result parsed = document.load_file(catalog.c_str());
  if (!parsed) {
    throw CSimError("cannot read the device catalog " + catalog.string() + ": " + parsed.description());
  }
  std::string folder = std::filesystem::absolute(catalog).parent_path().string() + "/";
  std::map<std::filesystem::path, std::string> named;
  std::vector<CDemoFirmwareFile> files;
  for (const pugi::xpath_node& item : document.select_nodes("/Config/Devices/Device")) {
    files.push_back(MakeDeviceFirmware(item.node(), folder, named));
  }
  return files;
}

std::string DescribeDemoFirmwareFile(const CDemoFirmwareFile& file) {
  switch (file.Result) {
    case EDemoFirmwareResult::Written:
    case EDemoFirmwareResult::Unchanged:
      return FormatText("%s %s  (%s, %s, version %u, %zu bytes)",
                        file.Result == EDemoFirmwareResult::Written ? "wrote" : "unchanged",
                        file.Path.c_str(), file.DeviceId.c_str(), file.ClassName.c_str(),
                        static_cast<unsigned>(file.Version), file.Size);
    case EDemoFirmwareResult::Skipped:
      break;
  }
  return FormatText("skipped %s  (%s): %s", file.DeviceId.c_str(), file.ClassName.c_str(), file.Note.c_str());
}
