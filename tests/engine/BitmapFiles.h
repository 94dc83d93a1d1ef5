// Bitmap files for the tests of the setup windows: 24-bit pictures of known pixels, and the
// trailer a splash bitmap carries.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// A 24-bit bitmap file of width × height whose pixel (x, y), counted from the top, is colour(x, y)
// (blue in bits 0-7, red 16-23); rows are stored bottom first and padded to 4 bytes.
inline std::string BitmapFile(int width, int height,
                              const std::function<uint32_t(int x, int y)>& colour) {
  const int stride = (width * 3 + 3) / 4 * 4;
  std::string bytes = "BM";
  auto le = [&bytes](uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
  };
  le(54 + stride * height, 4), le(0, 4), le(54, 4);
  le(40, 4), le(width, 4), le(height, 4), le(1, 2), le(24, 2), le(0, 4), le(stride * height, 4);
  le(0, 4), le(0, 4), le(0, 4), le(0, 4);
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) le(colour(x, y), 3);
    bytes.append(stride - width * 3, '\0');
  }
  return bytes;
}

// The splash trailer: display seconds, transparent colour, opacity, 32-bit little-endian each.
inline std::string SplashTrailerBytes(uint32_t seconds, uint32_t transparent, uint32_t opacity) {
  std::string bytes;
  for (uint32_t value : {seconds, transparent, opacity}) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
  }
  return bytes;
}
