#include "engine/Splash.h"

#include <algorithm>

#include "engine/Packages.h"
#include "engine/Presetup.h"
#include "engine/RgnCompiler.h"
#include "expressions/Common.h"
#include "support/zrFileUtils.h"

namespace {

// A bitmap file header and the usual information header: no bitmap with a trailer is shorter.
constexpr int64_t kBitmapHeaderSize = 14 + 40;
constexpr int64_t kTrailerSize = 12;
// The longest display time a package can ask for: a damaged trailer must not hold the setup for
// days.
constexpr int32_t kMaxDisplaySeconds = 3600;

struct TSplashState {
  os::WindowHandle Window = nullptr;
  os::BitmapHandle Bitmap = nullptr;
  uint32_t ShownAt = 0;
  uint32_t DisplayMilliseconds = 0;
};
TSplashState splash;

int32_t Le32(const uint8_t* bytes) {
  return static_cast<int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                              static_cast<uint32_t>(bytes[3]) << 24);
}

// The window behind it is translucent only where Windows has layered windows: 2000 and later.
bool LayeredWindowsAvailable() {
  const os::VersionData version = os::GetVersionData();
  return version.platform == os::Platform::kWindowsNT && version.major >= 5;
}

}  // namespace

std::optional<TSplashTrailer> ReadSplashTrailer(const std::string& path) {
  os::File file = os::File::Open(path, os::File::Mode::kRead);
  if (!file.IsOpen()) return std::nullopt;
  const int64_t size = file.Size();
  if (size < kBitmapHeaderSize + kTrailerSize) return std::nullopt;
  uint8_t bytes[kTrailerSize];
  if (file.ReadAt(size - kTrailerSize, bytes, sizeof(bytes)) != kTrailerSize) return std::nullopt;
  TSplashTrailer trailer;
  const int32_t seconds = std::clamp(Le32(bytes), 0, kMaxDisplaySeconds);
  trailer.DisplayMilliseconds = static_cast<uint32_t>(seconds) * 1000;
  trailer.Transparent = static_cast<uint32_t>(Le32(bytes + 4));
  trailer.Opacity = Le32(bytes + 8);
  return trailer;
}

uint8_t OpacityToAlpha(int32_t opacity) {
  const uint64_t percent = static_cast<uint64_t>(std::clamp(opacity, 0, 100));
  return static_cast<uint8_t>(DivideRoundingHalfToEven(percent * 255, 100));
}

os::Rect CentredBounds(const os::Rect& workArea, int width, int height) {
  const int left = workArea.left + (workArea.right - workArea.left - width) / 2;
  const int top = workArea.top + (workArea.bottom - workArea.top - height) / 2;
  return {left, top, left + width, top + height};
}

void ShowSplash(const std::string& bitmapPath) {
  ++PresetupWindowCalls().Splashes;
  PresetupWindowCalls().SplashPath = bitmapPath;
  if (splash.Window || !FileExists(bitmapPath)) return;
  const std::optional<TSplashTrailer> trailer = ReadSplashTrailer(bitmapPath);
  if (!trailer) return;
  os::BitmapHandle bitmap = os::LoadBitmapFile(bitmapPath);
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  if (!os::BitmapPixels(bitmap, width, height, pixels)) {
    os::DeleteBitmap(bitmap);
    return;
  }
  os::WindowHandle window = os::CreatePictureWindow("KXSplashWindow", bitmap,
                                                    CentredBounds(os::WorkArea(), width, height));
  if (!window) {
    os::DeleteBitmap(bitmap);
    return;
  }
  if (trailer->Transparent != 0xFFFFFFFF) {
    os::SetWindowRegion(window, ScanRegionRects(pixels, width, height, trailer->Transparent));
  }
  if (trailer->Opacity < 100 && LayeredWindowsAvailable()) {
    os::SetWindowAlpha(window, OpacityToAlpha(trailer->Opacity));
  }
  os::ShowWindow(window);
  os::RedrawNow(window);
  splash = {window, bitmap, os::TickCount(), trailer->DisplayMilliseconds};
}

os::WindowHandle SplashWindow() { return splash.Window; }

void CloseSplash() {
  ++PresetupWindowCalls().SplashClosed;
  if (splash.Window) {
    WaitDispatching(splash.ShownAt, splash.DisplayMilliseconds);
    os::DestroyWindow(splash.Window);
  }
  os::DeleteBitmap(splash.Bitmap);
  splash = {};
}
