#include "engine/RgnCompiler.h"

std::vector<std::vector<os::Rect>> ScanRegionRects(std::span<const uint32_t> pixels, int width,
                                                   int height, uint32_t transparent) {
  std::vector<std::vector<os::Rect>> blocks;
  if (width <= 0 || height <= 0 ||
      pixels.size() < static_cast<size_t>(width) * static_cast<size_t>(height)) {
    return blocks;
  }
  std::vector<os::Rect> block;
  auto isOpaque = [transparent](uint32_t pixel) { return (pixel & 0xFFFFFF) != transparent; };
  for (int y = 0; y < height; ++y) {
    const uint32_t* row = pixels.data() + static_cast<size_t>(y) * width;
    int x = 0;
    while (x < width) {
      while (x < width && !isOpaque(row[x])) ++x;
      if (x == width) break;
      const int start = x;
      while (x < width && isOpaque(row[x])) ++x;
      // The run ends before x, or at the right edge, where x is the width: the rectangle reaches
      // to the pixel after the run either way, so the last column is inside.
      block.push_back({start, y, x, y + 1});
      if (block.size() == kRegionBlockSize) {
        blocks.push_back(std::move(block));
        block.clear();
      }
    }
  }
  if (!block.empty()) blocks.push_back(std::move(block));
  return blocks;
}

bool SetRegionFromBitmap(os::WindowHandle window, os::BitmapHandle bitmap, uint32_t transparent) {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  if (!os::BitmapPixels(bitmap, width, height, pixels)) return false;
  return os::SetWindowRegion(window, ScanRegionRects(pixels, width, height, transparent));
}
