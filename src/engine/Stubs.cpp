#include "engine/Stubs.h"

#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "install/Actions.h"
#include "support/Errors.h"
#include "support/RunState.h"
#include "support/zrFileUtils.h"
#include "support/zrIniFile.h"
#include "support/zrUtils.h"

std::string& PreviousLogPath() {
  static std::string path;
  return path;
}

TPresetupWindowCalls& PresetupWindowCalls() {
  static TPresetupWindowCalls calls;
  return calls;
}

// Stub: the presetup window comes with the setup windows; these only record their calls.
void ShowPresetupWindow(const std::string&, const std::string&) {
  ++PresetupWindowCalls().Shown;
  PresetupWindowCalls().Visible = true;
}

// Stub: the presetup window comes with the setup windows.
bool PresetupWindowVisible() { return PresetupWindowCalls().Visible; }

// Stub: the presetup window comes with the setup windows.
void SetPresetupTitle(const std::string& title) { PresetupWindowCalls().Title = title; }

// Stub: the presetup window comes with the setup windows.
void SetPresetupProgress(int percent) { PresetupWindowCalls().Progress = percent; }

// Stub: the presetup window comes with the setup windows.
void DestroyPresetupWindow() {
  ++PresetupWindowCalls().Destroyed;
  PresetupWindowCalls().Visible = false;
}

// Stub: the splash comes with the setup windows.
void ShowSplash(const std::string& bitmapPath) {
  ++PresetupWindowCalls().Splashes;
  PresetupWindowCalls().SplashPath = bitmapPath;
}

// Stub: the splash comes with the setup windows.
void CloseSplash() { ++PresetupWindowCalls().SplashClosed; }
