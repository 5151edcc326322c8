#include "support/xwd_image.h"

#include <algorithm>
#include <bit>
#include <unordered_set>

#include "support/temp_folder.h"

namespace {

// The file header: 25 unsigned 32-bit fields, most significant byte first, then the window's
// name up to header_size, then ncolors colour entries of 12 bytes, then the pixels.
enum HeaderField {
  kHeaderSize = 0,
  kFileVersion = 1,
  kPixmapFormat = 2,
  kPixmapWidth = 4,
  kPixmapHeight = 5,
  kByteOrder = 7,
  kBitsPerPixel = 11,
  kBytesPerLine = 12,
  kVisualClass = 13,
  kRedMask = 14,
  kGreenMask = 15,
  kBlueMask = 16,
  kColourCount = 19,
  kFieldCount = 25,
};
constexpr std::uint32_t kVersion = 7;
constexpr std::uint32_t kZPixmap = 2;
constexpr std::uint32_t kTrueColor = 4;
constexpr std::uint32_t kMostSignificantFirst = 1;
constexpr std::size_t kColourEntrySize = 12;

std::uint32_t BigEndian32(const std::string& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return value;
}

// One pixel's bytes in the image's own byte order.
std::uint32_t PixelValue(const unsigned char* p, std::size_t size, bool mostSignificantFirst) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const std::size_t shift = 8 * (mostSignificantFirst ? size - 1 - i : i);
    value |= static_cast<std::uint32_t>(p[i]) << shift;
  }
  return value;
}

// The channel under `mask`, scaled to eight bits.
std::uint32_t Channel(std::uint32_t value, std::uint32_t mask) {
  const int width = std::popcount(mask);
  std::uint32_t channel = (value & mask) >> std::countr_zero(mask);
  return width >= 8 ? channel >> (width - 8) : channel * 255 / ((1u << width) - 1);
}

}  // namespace

std::optional<CXwdImage> CXwdImage::Read(const std::filesystem::path& path, std::string& error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    error = path.string() + ": no such file";
    return std::nullopt;
  }
  return Parse(ReadWholeFile(path), error);
}

std::optional<CXwdImage> CXwdImage::Parse(const std::string& bytes, std::string& error) {
  if (bytes.size() < kFieldCount * 4) {
    error = "shorter than an XWD header";
    return std::nullopt;
  }
  std::uint32_t field[kFieldCount];
  for (std::size_t i = 0; i < kFieldCount; ++i) field[i] = BigEndian32(bytes, i * 4);
  if (field[kFileVersion] != kVersion || field[kPixmapFormat] != kZPixmap) {
    error = "not an XWD version 7 ZPixmap";
    return std::nullopt;
  }
  const std::uint32_t bitsPerPixel = field[kBitsPerPixel];
  const std::uint32_t masks[] = {field[kRedMask], field[kGreenMask], field[kBlueMask]};
  if (field[kVisualClass] != kTrueColor || (bitsPerPixel != 32 && bitsPerPixel != 24) ||
      std::any_of(std::begin(masks), std::end(masks), [](std::uint32_t mask) { return mask == 0; })) {
    error = "not a 24- or 32-bit true-colour picture";
    return std::nullopt;
  }
  const std::uint64_t width = field[kPixmapWidth];
  const std::uint64_t height = field[kPixmapHeight];
  const std::uint64_t bytesPerLine = field[kBytesPerLine];
  const std::uint64_t pixelSize = bitsPerPixel / 8;
  const std::uint64_t start = std::uint64_t{field[kHeaderSize]} + std::uint64_t{field[kColourCount]} * kColourEntrySize;
  if (width == 0 || height == 0 || width > 16384 || height > 16384 || bytesPerLine < width * pixelSize ||
      start + bytesPerLine * height > bytes.size()) {
    error = "the pixels do not fit the file";
    return std::nullopt;
  }

  CXwdImage image;
  image.m_width = static_cast<int>(width);
  image.m_height = static_cast<int>(height);
  image.m_pixels.resize(width * height);
  const bool mostSignificantFirst = field[kByteOrder] == kMostSignificantFirst;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data()) + start;
  for (std::uint64_t y = 0; y < height; ++y) {
    for (std::uint64_t x = 0; x < width; ++x) {
      const std::uint32_t value = PixelValue(data + y * bytesPerLine + x * pixelSize, pixelSize, mostSignificantFirst);
      image.m_pixels[y * width + x] =
          (Channel(value, masks[0]) << 16) | (Channel(value, masks[1]) << 8) | Channel(value, masks[2]);
    }
  }
  return image;
}

namespace {

ScreenRect Clip(ScreenRect rect, const ScreenRect& bounds) {
  const int left = std::max(rect.x, bounds.x);
  const int top = std::max(rect.y, bounds.y);
  const int right = std::min(rect.x + rect.width, bounds.x + bounds.width);
  const int bottom = std::min(rect.y + rect.height, bounds.y + bounds.height);
  return {left, top, std::max(0, right - left), std::max(0, bottom - top)};
}

}  // namespace

CXwdImage CXwdImage::Crop(ScreenRect rect) const {
  rect = Clip(rect, Bounds());
  CXwdImage part;
  part.m_width = rect.width;
  part.m_height = rect.height;
  part.m_pixels.reserve(static_cast<std::size_t>(rect.width) * rect.height);
  for (int y = rect.y; y < rect.y + rect.height; ++y) {
    for (int x = rect.x; x < rect.x + rect.width; ++x) part.m_pixels.push_back(Pixel(x, y));
  }
  return part;
}

std::size_t CXwdImage::CountOtherThan(const ScreenRect& area, std::uint32_t rgb) const {
  const ScreenRect rect = Clip(area, Bounds());
  std::size_t count = 0;
  for (int y = rect.y; y < rect.y + rect.height; ++y) {
    for (int x = rect.x; x < rect.x + rect.width; ++x) count += Pixel(x, y) != rgb ? 1 : 0;
  }
  return count;
}

std::size_t CXwdImage::CountColours(const ScreenRect& area, std::size_t enough) const {
  const ScreenRect rect = Clip(area, Bounds());
  std::unordered_set<std::uint32_t> colours;
  for (int y = rect.y; y < rect.y + rect.height && colours.size() < enough; ++y) {
    for (int x = rect.x; x < rect.x + rect.width && colours.size() < enough; ++x) colours.insert(Pixel(x, y));
  }
  return colours.size();
}

std::size_t CXwdImage::CountDifferences(const CXwdImage& other, const ScreenRect& area) const {
  const ScreenRect rect = Clip(Clip(area, Bounds()), other.Bounds());
  std::size_t count = 0;
  for (int y = rect.y; y < rect.y + rect.height; ++y) {
    for (int x = rect.x; x < rect.x + rect.width; ++x) count += Pixel(x, y) != other.Pixel(x, y) ? 1 : 0;
  }
  return count;
}
