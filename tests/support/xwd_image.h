#pragma once
// A screen picture in the X Window Dump format, as the virtual X server keeps its framebuffer
// (`Xvfb -fbdir DIR` maps DIR/Xvfb_screen0). Only the true-colour layouts that server writes
// are read: 32 or 24 bits per pixel, ZPixmap, either byte order. Pixels come out as 0xRRGGBB.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct ScreenRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  bool Contains(const ScreenRect& inner) const {
    return inner.x >= x && inner.y >= y && inner.x + inner.width <= x + width &&
           inner.y + inner.height <= y + height;
  }
  bool Empty() const { return width <= 0 || height <= 0; }
};

class CXwdImage {
 public:
  // The picture in the file; nullopt with `error` set when it cannot be read or is a layout
  // this reader does not know.
  static std::optional<CXwdImage> Read(const std::filesystem::path& path, std::string& error);
  // The same from the file's bytes.
  static std::optional<CXwdImage> Parse(const std::string& bytes, std::string& error);

  int Width() const { return m_width; }
  int Height() const { return m_height; }
  ScreenRect Bounds() const { return {0, 0, m_width, m_height}; }
  std::uint32_t Pixel(int x, int y) const { return m_pixels[static_cast<std::size_t>(y) * m_width + x]; }

  // The part of the picture inside `rect` (cut to the picture's bounds).
  CXwdImage Crop(ScreenRect rect) const;
  // How many pixels inside `rect` differ from `rgb`.
  std::size_t CountOtherThan(const ScreenRect& rect, std::uint32_t rgb) const;
  // How many different colours `rect` holds, counting at most `enough` of them.
  std::size_t CountColours(const ScreenRect& rect, std::size_t enough = 64) const;
  // How many pixels inside `rect` differ between this picture and `other` (same size).
  std::size_t CountDifferences(const CXwdImage& other, const ScreenRect& rect) const;

 private:
  int m_width = 0;
  int m_height = 0;
  std::vector<std::uint32_t> m_pixels;  // 0xRRGGBB, row after row
};
