// Stand-ins for the operations that the driver calls but that other subsystems will provide: the
// previous run's install log for repair mode, and the presetup window and the splash. Each does
// the least that lets a run go on and says so in one line; each is replaced, under the same name,
// by the subsystem that owns it. Main thread only.
#pragma once

#include <cstdint>
#include <string>

class TkxPackage;

// The install log of the previous run, which repair mode reads to remove old references.
std::string& PreviousLogPath();

// The presetup window and the splash. Until the real windows exist, the stand-ins only record
// their calls here, so that tests see which windows a run would have shown.
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
// dialog form titled with packageName.
void ShowPresetupWindow(const std::string& presetupFolder, const std::string& packageName);
bool PresetupWindowVisible();
void SetPresetupTitle(const std::string& title);
void SetPresetupProgress(int percent);
// Destroys the window and frees its bitmap.
void DestroyPresetupWindow();
void ShowSplash(const std::string& bitmapPath);
// Waits until the splash's display time has passed, then destroys it.
void CloseSplash();
