// The presetup window: shown while a package's presetup files are extracted, with a progress bar
// of the extraction. It is the package's "presetup.bmp" as a borderless picture shaped by its
// pure-green pixels, or, without that bitmap, the dialog "DLG_PRESETUP" of the program's
// resources. It sits at the bottom right of the work area while a splash is up, else in the
// middle. Main thread only.
#pragma once

#include <string>

#include "os/os.h"

// What the setup windows were asked to do since the record was last cleared, so that a test of
// a run sees which windows it would have shown, also where none can appear (Windows without a
// desktop).
struct TPresetupWindowCalls {
  int Shown = 0;           // ShowPresetupWindow calls
  int Destroyed = 0;       // DestroyPresetupWindow calls
  int Splashes = 0;        // ShowSplash calls
  int SplashClosed = 0;    // CloseSplash calls
  bool Visible = false;    // shown and not yet destroyed
  std::string Title;       // the last title set
  int Progress = -1;       // the last percentage set
  std::string SplashPath;  // the bitmap of the last ShowSplash
};
TPresetupWindowCalls& PresetupWindowCalls();

// The presetup window of the package being prepared: "presetup.bmp" from presetupFolder, or the
// dialog form titled with packageName. Its progress starts at 0.
void ShowPresetupWindow(const std::string& presetupFolder, const std::string& packageName);
// Whether the window was shown and not yet destroyed. A window the system refused counts as
// shown: it is not asked for again at every file.
bool PresetupWindowVisible();
// The window on screen; nullptr when none.
os::WindowHandle PresetupWindow();
void SetPresetupTitle(const std::string& title);
void SetPresetupProgress(int percent);
// Destroys the window and frees its bitmap.
void DestroyPresetupWindow();

// Where a presetup window of that size goes: 20 pixels from the bottom right corner of the work
// area while a splash is up, else centred (and never above or left of the screen's corner).
os::Rect PresetupBounds(const os::Rect& workArea, int width, int height, bool splashUp);
