// The engine's own message boxes: the plain error box, the warning box and the general box.
//
// Boxes are task-modal with an OK button; once the driver has asked for it at start, they also
// come to the foreground. The error and warning boxes are captioned with the application name
// (or "Error" / "Warning" while none is known) and owned by the main window's last active pop-up.
// Main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "os/os.h"

// Process-wide settings of the boxes, set by the driver and the language set-up.
struct BoxSettings {
  std::string applicationName;
  bool setForeground = false;
  os::WindowHandle mainWindow = nullptr;
};
BoxSettings& MessageBoxSettings();

void ShowErrorBox(const std::string& text);    // stop icon
void ShowWarningBox(const std::string& text);  // exclamation icon

// A box with the caller's owner, caption and icon (os::kMbIconStop, ...); returns the answer.
int ShowMessageBox(os::WindowHandle owner, const std::string& caption, const std::string& text,
                   uint32_t icon);
