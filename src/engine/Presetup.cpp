#include "engine/Presetup.h"

#include <algorithm>

#include "engine/RgnCompiler.h"
#include "engine/Splash.h"
#include "support/Errors.h"
#include "support/zrFileUtils.h"

namespace {

// The picture form's bar, in the bitmap's coordinates, and its colours (0x00BBGGRR).
constexpr os::Rect kPictureBar = {48, 143, 48 + 189, 143 + 16};
constexpr uint32_t kBarGrey = 0x636363;  // red, green and blue 99
constexpr uint32_t kBarWhite = 0xFFFFFF;
// Pure green as a pixel value (green in bits 8-15): the presetup bitmap's transparent colour.
constexpr uint32_t kPresetupTransparent = 0x00FF00;
constexpr int kCornerDistance = 20;
constexpr int kProgressBarId = 101;

struct TPresetupState {
  os::WindowHandle Window = nullptr;
  os::WindowHandle Bar = nullptr;
  os::BitmapHandle Bitmap = nullptr;
  bool BitmapLoaded = false;  // the load was tried
  bool Shown = false;
};
TPresetupState presetup;

void CreatePictureForm() {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  if (!os::BitmapPixels(presetup.Bitmap, width, height, pixels)) return;
  presetup.Window =
      os::CreatePictureWindow("KXPresetupWindow", presetup.Bitmap, os::Rect{0, 0, width, height});
  if (!presetup.Window) return;
  presetup.Bar = os::CreateProgressBar(presetup.Window, kPictureBar, kBarGrey, kBarWhite);
  os::SetWindowRegion(presetup.Window,
                      ScanRegionRects(pixels, width, height, kPresetupTransparent));
}

void CreateDialogForm(const std::string& packageName) {
  presetup.Window = os::CreateResourceDialog("DLG_PRESETUP");
  if (!presetup.Window) return;
  os::SetWindowTitle(presetup.Window, Format("Preparing \"%s\" package...", packageName.c_str()));
  presetup.Bar = os::DialogItem(presetup.Window, kProgressBarId);
}

}  // namespace

TPresetupWindowCalls& PresetupWindowCalls() {
  static TPresetupWindowCalls calls;
  return calls;
}

os::Rect PresetupBounds(const os::Rect& workArea, int width, int height, bool splashUp) {
  int left, top;
  if (splashUp) {
    left = workArea.right - kCornerDistance - width;
    top = workArea.bottom - kCornerDistance - height;
  } else {
    const os::Rect centred = CentredBounds(workArea, width, height);
    left = std::max(centred.left, 0);
    top = std::max(centred.top, 0);
  }
  return {left, top, left + width, top + height};
}

void ShowPresetupWindow(const std::string& presetupFolder, const std::string& packageName) {
  ++PresetupWindowCalls().Shown;
  PresetupWindowCalls().Visible = true;
  presetup.Shown = true;
  if (!presetup.Window) {
    if (!presetup.BitmapLoaded) {
      presetup.BitmapLoaded = true;
      const std::string path = WithTrailingBackslash(presetupFolder) + "presetup.bmp";
      if (FileExists(path)) presetup.Bitmap = os::LoadBitmapFile(path);
    }
    if (presetup.Bitmap) {
      CreatePictureForm();
    } else {
      CreateDialogForm(packageName);
    }
    if (!presetup.Window) return;
    if (presetup.Bar) os::SetProgressRange(presetup.Bar, 0, 100, 1);
  }
  if (presetup.Bar) os::SetProgressPosition(presetup.Bar, 0);
  const os::Rect bounds = os::GetWindowState(presetup.Window).bounds;
  const os::Rect placed = PresetupBounds(os::WorkArea(), bounds.right - bounds.left,
                                         bounds.bottom - bounds.top, SplashWindow() != nullptr);
  os::MoveWindowTo(presetup.Window, placed.left, placed.top);
  os::ShowWindow(presetup.Window);
  os::RedrawNow(presetup.Window);
}

bool PresetupWindowVisible() { return presetup.Shown; }

os::WindowHandle PresetupWindow() { return presetup.Window; }

void SetPresetupTitle(const std::string& title) {
  PresetupWindowCalls().Title = title;
  if (presetup.Window) os::SetWindowTitle(presetup.Window, title);
}

void SetPresetupProgress(int percent) {
  PresetupWindowCalls().Progress = percent;
  if (presetup.Bar) os::SetProgressPosition(presetup.Bar, percent);
}

void DestroyPresetupWindow() {
  ++PresetupWindowCalls().Destroyed;
  PresetupWindowCalls().Visible = false;
  os::DestroyWindow(presetup.Window);
  os::DeleteBitmap(presetup.Bitmap);
  presetup = {};
}
