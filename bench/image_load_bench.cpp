// Loading firmware images of 1 MiB from memory: a byte-addressed HEX file into the 1 MiB
// image, a word-addressed HEX file into word segments, a segment image file into segments.
// The files are generated here; bytes per second count the image data, not the file text.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image/flash_seg.h"
#include "image/hex_file_reader.h"
#include "image/hex_file_reader16.h"

namespace {

constexpr std::uint32_t kImageBytes = 0x100000;

// Deterministic data without blank stretches.
std::vector<std::uint8_t> ImageData(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  std::uint32_t state = 12345;
  for (auto& b : data) {
    state = state * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(state >> 16);
  }
  return data;
}

std::string HexRecord(int type, std::uint32_t address, const std::uint8_t* data, std::size_t count) {
  std::string line = ":";
  char hex[3];
  unsigned sum = 0;
  auto put = [&](std::uint8_t b) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
    sum += b;
  };
  put(static_cast<std::uint8_t>(count));
  put(static_cast<std::uint8_t>(address >> 8));
  put(static_cast<std::uint8_t>(address));
  put(static_cast<std::uint8_t>(type));
  for (std::size_t i = 0; i < count; ++i) put(data[i]);
  put(static_cast<std::uint8_t>(-sum));
  return line + "\r\n";
}

// A HEX file of `data` from address 0 in records of 16 bytes; with `words`, addresses count
// 16-bit words from `base`.
std::string HexFile(const std::vector<std::uint8_t>& data, bool words, std::uint32_t base) {
  std::string text;
  std::uint32_t upper = 0xFFFFFFFF;
  for (std::size_t offset = 0; offset < data.size(); offset += 16) {
    std::uint32_t address = base + static_cast<std::uint32_t>(words ? offset / 2 : offset);
    if (address >> 16 != upper) {
      upper = address >> 16;
      std::uint8_t value[2] = {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)};
      text += HexRecord(4, 0, value, 2);
    }
    text += HexRecord(0, address & 0xFFFF, data.data() + offset, 16);
  }
  return text + ":00000001FF\r\n";
}

// 1 MiB of words needs 0x80000 word addresses: 32 regions of 0x4000 words from 0x300000.
const std::vector<FlashRegion>& WideWordTable() {
  static const std::vector<FlashRegion> table = [] {
    std::vector<FlashRegion> regions;
    for (std::uint32_t n = 0; n < 32; ++n) regions.push_back({0x300000 + n * 0x4000, static_cast<std::uint16_t>(1 + n % 2)});
    regions.push_back({0x380000, FLASH_REGION_END});
    return regions;
  }();
  return table;
}

// 1 MiB of segment data: sixteen regions of 64 KiB.
const std::vector<FlashRegion>& WideByteTable() {
  static const std::vector<FlashRegion> table = [] {
    std::vector<FlashRegion> regions;
    for (std::uint32_t n = 0; n < 16; ++n) regions.push_back({n * 0x10000, 1});
    regions.push_back({0x100000, FLASH_REGION_END});
    return regions;
  }();
  return table;
}

void BM_LoadHexImage(benchmark::State& state) {
  const std::string text = HexFile(ImageData(kImageBytes), false, 0);
  for (auto _ : state) {
    CIntelHexFileReader reader;
    reader.OpenMemory(text, "bench.hex");
    reader.AllocImage(CIntelHexFileReader::kImageSize);
    if (!reader.ReadImage()) state.SkipWithError("the image did not load");
    benchmark::DoNotOptimize(reader.Image().data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageBytes);
  state.counters["file_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_LoadHexImage)->Unit(benchmark::kMillisecond);

void BM_LoadWordHexImage(benchmark::State& state) {
  const std::string text = HexFile(ImageData(kImageBytes), true, 0x300000);
  for (auto _ : state) {
    CIntelHexFileReader16 reader;
    reader.OpenMemory(text, "bench16.hex");
    CFlashSeg16Array segments;
    std::uint32_t total = reader.LoadSegments(segments, WideWordTable());
    if (reader.Failed() || total != kImageBytes / 2) state.SkipWithError("the image did not load");
    benchmark::DoNotOptimize(segments.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageBytes);
  state.counters["file_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_LoadWordHexImage)->Unit(benchmark::kMillisecond);

void BM_LoadSegmentImage(benchmark::State& state) {
  const std::vector<std::uint8_t> data = ImageData(kImageBytes);
  std::string bytes;
  for (std::uint32_t offset = 0; offset < kImageBytes; offset += 1024) {
    std::uint32_t header[2] = {offset, 1024};  // little-endian on the machines we build for
    bytes.append(reinterpret_cast<const char*>(header), sizeof header);
    bytes.append(reinterpret_cast<const char*>(data.data() + offset), 1024);
  }
  for (auto _ : state) {
    CImageFile file;
    file.OpenMemory(bytes, "bench.seg");
    CFlashSegArray segments;
    std::uint32_t total = ReadSegmentFile(file, segments, WideByteTable());
    if (file.LastError().IsSet() || total == 0) state.SkipWithError("the image did not load");
    benchmark::DoNotOptimize(segments.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageBytes);
}
BENCHMARK(BM_LoadSegmentImage)->Unit(benchmark::kMillisecond);

}  // namespace
