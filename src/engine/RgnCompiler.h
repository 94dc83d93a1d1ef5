// The shape of a picture window from its bitmap: every pixel that is not the transparent colour
// belongs to the window. The scan of the pixels into rectangles is plain computation; the OS layer
// turns its blocks of rectangles into the window's region.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "os/os.h"

// Windows makes a region from one block of rectangles at a time; blocks of this many keep each
// request small on every version.
constexpr size_t kRegionBlockSize = 2000;

// The non-transparent runs of each row, top to bottom, as one-row rectangles in blocks of at most
// kRegionBlockSize. pixels holds width × height values, top row first; a pixel is transparent when
// its low 24 bits equal transparent (so -1 makes every pixel opaque). No blocks when every pixel
// is transparent or the pixels do not fill the size.
std::vector<std::vector<os::Rect>> ScanRegionRects(std::span<const uint32_t> pixels, int width,
                                                   int height, uint32_t transparent);

// Gives window the shape of bitmap with that transparent colour. False when the bitmap cannot be
// read or the system refuses the region; a wholly transparent bitmap leaves the window whole.
bool SetRegionFromBitmap(os::WindowHandle window, os::BitmapHandle bitmap, uint32_t transparent);
