#include "support/screen_search.h"

#include <algorithm>
#include <tuple>

std::vector<ScreenRect> FindButtons(const CXwdImage& screen, const ScreenRect& area) {
  struct Edge {
    int x, top, bottom;
    std::uint32_t colour;
  };
  // The area's bottom left corner shows what the buttons stand on.
  const std::uint32_t background = screen.Pixel(area.x, area.y + area.height - 1);
  // Every column's runs of one colour, as tall as a button's side (text is shorter, frames of
  // lists and pictures taller); `bottom` is the first row past the run.
  std::vector<Edge> edges;
  for (int x = area.x; x < area.x + area.width; ++x) {
    int y = area.y;
    while (y < area.y + area.height) {
      const std::uint32_t colour = screen.Pixel(x, y);
      int end = y + 1;
      while (end < area.y + area.height && screen.Pixel(x, end) == colour) ++end;
      if (colour != background && end - y >= 15 && end - y <= 60) edges.push_back({x, y, end, colour});
      y = end;
    }
  }
  std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) {
    return std::tie(a.top, a.bottom, a.colour, a.x) < std::tie(b.top, b.bottom, b.colour, b.x);
  });
  // A straight line of the edges' colour between them, within four rows above (or below) them.
  auto joined = [&](const Edge& left, const Edge& right, int from, int to) {
    for (int y = std::max(area.y, from); y < std::min(area.y + area.height, to); ++y) {
      bool straight = true;
      for (int x = left.x + 4; x <= right.x - 4 && straight; ++x) straight = screen.Pixel(x, y) == left.colour;
      if (straight) return true;
    }
    return false;
  };
  // The inside of a frame is not the frame's colour (as it is between two columns of one
  // blank area).
  auto framed = [&](const Edge& left, const Edge& right) {
    const int middle = (left.top + left.bottom) / 2;
    return screen.Pixel(left.x + 2, middle) != left.colour && screen.Pixel(right.x - 2, middle) != left.colour &&
           joined(left, right, left.top - 4, left.top) && joined(left, right, left.bottom, left.bottom + 4);
  };
  std::vector<ScreenRect> buttons;
  for (std::size_t i = 0; i + 1 < edges.size();) {
    const Edge& left = edges[i];
    const Edge& right = edges[i + 1];
    const bool pair = right.top == left.top && right.bottom == left.bottom && right.colour == left.colour &&
                      right.x - left.x >= 30 && framed(left, right);
    if (!pair) {
      ++i;
      continue;
    }
    buttons.push_back({left.x, left.top, right.x - left.x + 1, left.bottom - left.top});
    i += 2;
  }
  std::sort(buttons.begin(), buttons.end(),
            [](const ScreenRect& a, const ScreenRect& b) { return std::tie(a.y, a.x) < std::tie(b.y, b.x); });
  return buttons;
}

