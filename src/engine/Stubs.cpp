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

// Stub: no launch checks yet; every system passes.
bool RunLaunchChecks() { return true; }

// Stub: components carry no applications yet.
bool RunApplicationsBeforeDialogs() { return true; }

// Stub: no run is ever suspended yet; the files that were in use still go into place at the
// next start of the system.
void RegisterResume() { InstallActions().ApplyPendingFiles(); }

// Stub: a suspended run cannot be saved yet, so none can be loaded.
bool LoadRunState(const std::string& folder) { return false; }

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
