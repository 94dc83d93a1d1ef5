// The splash: a borderless picture ("splash.bmp" of the main package's presetup files) shown in
// the middle of the work area while the presetup files are extracted, and kept for at least the
// display time its bitmap asks for. Its trailer, the bitmap file's last 12 bytes, gives the
// display time, a transparent colour and an opacity. Main thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "os/os.h"

// The trailer: three 32-bit little-endian numbers at the end of the bitmap file.
struct TSplashTrailer {
  uint32_t DisplayMilliseconds = 0;   // the seconds stored, times 1000
  uint32_t Transparent = 0xFFFFFFFF;  // a pixel value (blue in bits 0-7); -1 for none
  int32_t Opacity = 100;              // percent; 100 or more is opaque
};
// Nothing when the file cannot be read or is too short to hold a bitmap header and a trailer.
std::optional<TSplashTrailer> ReadSplashTrailer(const std::string& path);
// The constant alpha of an opacity in percent: opacity × 2.55, a half to the even neighbour, so
// 50 gives 128; below 0 is clear, 100 and more opaque.
uint8_t OpacityToAlpha(int32_t opacity);
// Where a picture of that size sits centred in the work area (halves cut toward zero).
os::Rect CentredBounds(const os::Rect& workArea, int width, int height);

// Shows the splash of the bitmap at path; nothing when the file is missing, has no trailer or is
// no bitmap the system reads, or when the window cannot be made.
void ShowSplash(const std::string& bitmapPath);
// The splash window on screen; nullptr when none.
os::WindowHandle SplashWindow();
// Waits, dispatching messages, until the splash's display time has passed, then destroys it.
void CloseSplash();
